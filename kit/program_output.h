// What a test program printed, as the report and its JUnit twin carry it: UTF-8 always, so that one
// byte of another code page cannot make the XML unreadable exactly when something failed.
#pragma once

#include <functional>
#include <string>

namespace kit {

bool IsUtf8(const std::string& bytes);

// bytes with each byte that is not part of valid UTF-8 replaced by U+FFFD: text for what reads UTF-8
// and rejects or garbles anything else (a JUnit file's XML, GitHub's job summary).
std::string ValidUtf8(const std::string& bytes);

// What a failing test program said, without the progress lines of a passing test (at most 40 lines,
// each on a line of its own, indented). Output that is not UTF-8 is taken to be in the code page that
// fromCodePage decodes to UTF-8 (the runner's: the ANSI code page, which the C runtime prints in).
std::string FailureLines(const std::string& output, const std::function<std::string(const std::string&)>& fromCodePage);

}  // namespace kit
