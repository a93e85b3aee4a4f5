// What Windows decides registry virtualization and elevation by, as a process's token states it.
#pragma once

#include <windows.h>

#include <string>

#include "kit/required_checks.h"

namespace runner {

// Whether this process's token has the flag (TokenElevation, TokenVirtualizationEnabled): false where
// it cannot be read.
bool TokenFlag(TOKEN_INFORMATION_CLASS kind);
bool Elevated();

// What a token opened with TOKEN_QUERY states, as the header writes it (kit::TokenLine) and the table
// judges it (kit::VirtualizableToken); "none", "unknown" and "no" where one cannot be read.
kit::TokenStatement FactsOf(HANDLE token);
kit::TokenStatement OwnToken();
// Wine lets every process write HKLM; Windows, an elevated one.
bool CanWriteMachineRegistry();

}  // namespace runner
