// Whether a file (not a directory) is present at a path.
#pragma once

#include "pathtext/text.h"

// True when path names an existing file. Every failure, of any kind, answers false; nothing is reported.
bool FileExists(const UnicodeString& path);
