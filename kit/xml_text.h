// Text from a report or a program's output as XML 1.0 character data: what CI systems parse the JUnit
// files with rejects a whole file for one byte that is not UTF-8 or one control character.
#pragma once

#include <string>

// Text as XML character data or an attribute's value: the five markup characters escaped, line ends kept
// as &#10;, other control characters dropped (XML 1.0 allows none), and each byte that is not part of
// valid UTF-8 replaced by U+FFFD, so that the file is UTF-8 as its declaration says.
std::string XmlText(const std::string& text);
