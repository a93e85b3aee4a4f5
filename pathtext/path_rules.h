// Pure text rules for Windows paths. Positions are 1-based and lengths count UTF-16 code units.
#pragma once

#include <cstddef>

#include "pathtext/text.h"

// Drops one trailing backslash, if there is one. A forward slash is not a delimiter here.
// Takes text by value: a caller that hands over its string has it trimmed in place.
UnicodeString ExcludeTrailingPathDelimiter(UnicodeString text);

// Position of the last code unit of text that occurs in delimiters (NUL never counts); 0 when none does.
std::size_t LastDelimiter(const UnicodeString& delimiters, const UnicodeString& text);

// Whether the code unit at position occurs in delimiters. False out of range and on surrogate halves.
bool IsDelimiter(const UnicodeString& delimiters, const UnicodeString& text, std::size_t position);

// The directory part of path: a backslash ending it is dropped, except after a drive colon or another
// backslash, where it is kept ("C:\X.exe" gives "C:\"). Empty when path has no backslash or colon.
UnicodeString ExtractFileDir(const UnicodeString& path);

// Whether path means the same file whatever the process's current directory and current drive:
// drive-absolute ("C:\..." or "C:/...", Windows taking "/" as a separator), UNC ("\\server\share...") or a
// device path ("\\?\..." or "\\.\..."). Relative ("X"), rooted ("\X"), drive-relative ("C:X") and NT
// object ("\??\...") paths are not, nor is a UNC path without a server and a share name.
bool IsPathFullyQualified(const UnicodeString& path);

// Whether path holds two '%' signs, between which a shell that expands environment references in file
// names (Wine's ShellExecute does) could put other text: the path probed would not be the path started.
bool MayHoldEnvironmentReference(const UnicodeString& path);
