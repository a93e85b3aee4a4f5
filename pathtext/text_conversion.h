// Conversions between narrow and wide text. Neither ever turns a character into a different one: where
// the system ANSI code page cannot spell a text exactly, there is no narrow form of it at all.
#pragma once

#include <cstdint>
#include <optional>

#include "pathtext/text.h"

// The code page GetACP reports; the same for the life of the process.
std::uint32_t SystemAnsiCodePage();

// Decodes text from its own code page. Undecodable input gives empty text.
UnicodeString ToWide(const AnsiString& text);

// Encodes text in the system ANSI code page when that spells every character exactly: no best-fit
// look-alike, no default character, and under UTF-8 no unpaired surrogate. Nullopt otherwise.
std::optional<AnsiString> ToNarrowExact(const UnicodeString& text);
