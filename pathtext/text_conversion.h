// Conversions between narrow and wide text. They never fail loudly: trouble shows only as the
// platform's replacement characters, and empty text in gives empty text out.
#pragma once

#include <cstdint>

#include "pathtext/text.h"

// The code page GetACP reports, read once for the life of the process.
std::uint32_t SystemAnsiCodePage();

// Decodes text from its own code page. Undecodable input gives empty text.
UnicodeString ToWide(const AnsiString& text);

// Encodes text in the system ANSI code page; characters it lacks become the code page's replacement.
AnsiString ToNarrow(const UnicodeString& text);
