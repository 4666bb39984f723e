// The parts of TRegistry that do not depend on the store behind it: the
// roots, path resolution against the open key, the write guard and the
// error texts. The stores are in RegistryPortable.cpp and RegistryWin32.cpp.
#include "xelo/framework/Registry.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/RegistryCommon.h"
#include "xelo/framework/Strings.h"

#include <algorithm>

namespace xelo {

namespace registry {

bool IsValidKeyName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool AreValidKeyNames(const KeyPath& path) {
  return std::all_of(path.begin(), path.end(), [](const std::string& name) { return IsValidKeyName(name); });
}

KeyPath SplitPath(std::string_view path) {
  KeyPath parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string JoinPath(const KeyPath& path) {
  std::string text;
  for (const auto& part : path) {
    if (!text.empty()) text += '\\';
    text += part;
  }
  return text;
}

bool IsKnownRoot(HKEY key) { return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER; }

void SetDataFailed(std::string_view name) {
  throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
}

void InvalidDataType(std::string_view name) {
  throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
}

void AssignNames(TStrings& strings, const std::vector<std::string>& names) {
  strings.BeginUpdate();
  try {
    strings.Clear();
    for (const auto& name : names) strings.Add(name);
  } catch (...) {
    strings.EndUpdate();
    throw;
  }
  strings.EndUpdate();
}

}  // namespace registry

using namespace registry;

TRegistry::TRegistry() = default;

TRegistry::TRegistry(HKEY rootKey) { SetRootKey(rootKey); }

TRegistry::~TRegistry() = default;

void TRegistry::SetRootKey(HKEY rootKey) {
  if (!IsKnownRoot(rootKey)) throw ERegistryException("Invalid registry root key");
  CloseKey();
  rootKey_ = rootKey;
}

std::vector<std::string> TRegistry::AbsolutePath(std::string_view key) const {
  KeyPath path;
  if (key.empty() || key.front() != '\\') {
    if (hasCurrentKey_) path = currentPath_;
  }
  for (auto& part : SplitPath(key)) path.push_back(std::move(part));
  return path;
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate) { return Open(key, canCreate, false); }

bool TRegistry::OpenKeyReadOnly(std::string_view key) { return Open(key, false, true); }

void TRegistry::CloseKey() {
  currentPath_.clear();
  hasCurrentKey_ = false;
  readOnly_ = false;
}

void TRegistry::CheckWritable(std::string_view valueName) const {
  if (rootKey_ != HKEY_CURRENT_USER || readOnly_) SetDataFailed(valueName);
}

void TRegistry::WriteString(std::string_view name, std::string_view value) {
  WriteValue(name, TRegDataType::rdString, value, 0);
}

void TRegistry::WriteInteger(std::string_view name, std::int32_t value) {
  WriteValue(name, TRegDataType::rdInteger, {}, value);
}

bool EnumKey(HKEY rootKey, int index, std::string& name) {
  if (!IsKnownRoot(rootKey)) return false;
  TRegistry registry(rootKey);
  return registry.EnumKey(index, name);
}

}  // namespace xelo
