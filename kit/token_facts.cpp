#include "kit/token_facts.h"

#include <sddl.h>

#include "kit/optional_function.h"

namespace runner {

bool TokenFlag(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  DWORD value = 0, size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    if (!GetTokenInformation(token, kind, &value, sizeof value, &size)) value = 0;
    CloseHandle(token);
  }
  return value != 0;
}
bool Elevated() { return TokenFlag(TokenElevation); }

kit::TokenStatement FactsOf(HANDLE token) {
  kit::TokenStatement facts;
  DWORD value = 0, size = 0;
  if (GetTokenInformation(token, TokenVirtualizationAllowed, &value, sizeof value, &size)) facts.allowed = value != 0;
  if (GetTokenInformation(token, TokenVirtualizationEnabled, &value, sizeof value, &size)) facts.enabled = value != 0;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  if (GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size))
    facts.elevationType = type == TokenElevationTypeFull ? "Full" : type == TokenElevationTypeLimited ? "Limited" : "Default";
  alignas(TOKEN_MANDATORY_LABEL) BYTE label[64 + SECURITY_MAX_SID_SIZE];
  char* text = nullptr;
  if (GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid, &text)) {
    facts.sid = text;
    LocalFree(text);
  }
  return facts;
}

kit::TokenStatement OwnToken() {
  kit::TokenStatement facts;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    facts = FactsOf(token);
    CloseHandle(token);
  }
  return facts;
}
bool CanWriteMachineRegistry() { return Elevated() || OnWine(); }

}  // namespace runner
