#include "launcher/registry.h"

#include <algorithm>
#include <vector>

#include "launcher/registry_exception.h"

TRegistry::TRegistry(platform::Dword accessMask) : accessMask_(accessMask) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(platform::RegistryKeyHandle rootKey) {
  if (rootKey == rootKey_) return;
  CloseKey();
  rootKey_ = rootKey;
}

bool TRegistry::OpenKey(const UnicodeString& key, bool canCreate) {
  const bool absolute = !key.empty() && key.front() == u'\\';
  const char16_t* const subKey = key.c_str() + (absolute ? 1 : 0);
  const bool underCurrent = !absolute && currentKey_;
  const platform::RegistryKeyHandle base = underCurrent ? currentKey_.Get() : rootKey_;

  platform::RegistryKeyHandle opened = platform::NoRegistryKey;
  const platform::Status status = canCreate ? platform::RegCreateKeyExW(base, subKey, accessMask_, &opened)
                                            : platform::RegOpenKeyExW(base, subKey, accessMask_, &opened);
  if (status != platform::ErrorSuccess) return false;

  UnicodeString path = underCurrent ? currentPath_ + u'\\' + subKey : UnicodeString(subKey);
  CloseKey();
  currentKey_.Reset(opened);
  currentPath_ = std::move(path);
  return true;
}

UnicodeString TRegistry::ReadString(const UnicodeString& valueName) {
  platform::Dword type = platform::RegNone;
  platform::Dword size = 0;
  if (platform::RegQueryValueExW(currentKey_.Get(), valueName.c_str(), &type, nullptr, &size) !=
          platform::ErrorSuccess ||
      size == 0)
    return {};

  // Zeroed, rounded up to whole code units, and one unit longer than the data: registry strings need
  // not be terminated, and their byte count may be odd.
  std::vector<char16_t> buffer(size / 2 + 2, u'\0');
  platform::Dword bytesRead = size;
  if (platform::RegQueryValueExW(currentKey_.Get(), valueName.c_str(), &type,
                                 reinterpret_cast<std::uint8_t*>(buffer.data()), &bytesRead) != platform::ErrorSuccess)
    throw ERegistryException(ERegistryException::FailedToGetDataFormat, valueName);
  if (type != platform::RegSz && type != platform::RegExpandSz)
    throw ERegistryException(ERegistryException::InvalidDataTypeFormat, valueName);

  // The value may have shrunk between the two queries; never look past what this read returned, nor
  // past the buffer should a platform report more than it was given room for.
  const std::size_t unitsRead = std::min<std::size_t>((bytesRead + 1) / 2, buffer.size() - 1);
  UnicodeString text(buffer.data(), unitsRead);
  const std::size_t firstNul = text.find(u'\0');
  if (firstNul != UnicodeString::npos) text.resize(firstNul);
  return text;
}

void TRegistry::CloseKey() {
  if (!currentKey_) return;
  if (!lazyWrite_) platform::RegFlushKey(currentKey_.Get());
  currentKey_.Reset();
  currentPath_.clear();
}
