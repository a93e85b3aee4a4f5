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

TokenFacts FactsOf(HANDLE token) {
  TokenFacts facts;
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
    // The mandatory label's RID: SECURITY_MANDATORY_*_RID.
    const struct { const char* sid; const char* name; } levels[] = {
        {"S-1-16-0", "Untrusted"}, {"S-1-16-4096", "Low"}, {"S-1-16-8192", "Medium"}, {"S-1-16-8448", "Medium Plus"},
        {"S-1-16-12288", "High"}, {"S-1-16-16384", "System"}, {"S-1-16-20480", "Protected"}};
    for (const auto& level : levels)
      if (facts.sid == level.sid) facts.integrity = level.name;
  }
  return facts;
}

TokenFacts OwnToken() {
  TokenFacts facts;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    facts = FactsOf(token);
    CloseHandle(token);
  }
  return facts;
}
bool CanWriteMachineRegistry() { return Elevated() || OnWine(); }

}  // namespace runner
