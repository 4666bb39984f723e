// TRegistry on Windows' own registry, for builds on Windows' own COM, whose
// servers are registered there: HKEY_CURRENT_USER is the real HKCU (or the
// private testing key, see SetSettingsDirectoryForTesting), HKEY_CLASSES_ROOT
// the real HKCR, only ever read.
//
// A TRegistry object keeps the path of its open key, not a handle: every
// operation opens the key it needs and closes it again, so an object holds
// no handle between calls, and a key deleted meanwhile shows up as a failed
// open.
#include "xelo/framework/Registry.h"

#include "xelo/com/WideText.h"
#include "xelo/framework/RegistryCommon.h"
#include "xelo/framework/Strings.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace xelo {

using namespace registry;
using com::OleString;
using com::OleStringView;

namespace {

// An open registry key, closed exactly once when the holder goes away.
class KeyHandle {
 public:
  KeyHandle() = default;
  explicit KeyHandle(HKEY key) : key_(key) {}
  ~KeyHandle() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  KeyHandle(KeyHandle&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  KeyHandle& operator=(KeyHandle&& other) noexcept {
    std::swap(key_, other.key_);  // `other` closes what this held
    return *this;
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;

  HKEY Get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

// The handles the registry functions return, adopted only on success: what
// they leave in the handle after a failure is not theirs to promise.
KeyHandle OpenSubkey(HKEY parent, const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  return ::RegOpenKeyExW(parent, path, 0, access, &key) == ERROR_SUCCESS ? KeyHandle(key) : KeyHandle();
}

KeyHandle CreateSubkey(HKEY parent, const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  return ::RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr) ==
                 ERROR_SUCCESS
             ? KeyHandle(key)
             : KeyHandle();
}

// Above this length a name from the registry is taken as an error rather
// than grown into: key names have at most 255 characters, value names at
// most 16383.
constexpr std::size_t kLongestName = 32768;

// ---- where HKEY_CURRENT_USER points -----------------------------------------------

constexpr wchar_t kTestingParent[] = L"Software\\Xelo\\Testing";

// The path below the real HKCU that stands in for it; empty: HKCU itself.
class CurrentUserRedirect {
 public:
  static CurrentUserRedirect& Instance() {
    static CurrentUserRedirect redirect;
    return redirect;
  }

  OleString Prefix() {
    std::lock_guard lock(mutex_);
    return prefix_;
  }

  void Redirect(bool toTestingKey) {
    std::lock_guard lock(mutex_);
    if (toTestingKey) {
      if (prefix_.empty()) {
        prefix_ = OleString(kTestingParent) + L"\\" + std::to_wstring(::GetCurrentProcessId());
        // What an earlier process of the same id may have left behind.
        ::RegDeleteTreeW(HKEY_CURRENT_USER, prefix_.c_str());
      }
      CreateSubkey(HKEY_CURRENT_USER, prefix_.c_str(), KEY_READ);
    } else if (!prefix_.empty()) {
      ::RegDeleteTreeW(HKEY_CURRENT_USER, prefix_.c_str());
      prefix_.clear();
      // The parents go too once no other process's testing key is in them.
      DeleteIfEmpty(kTestingParent);
      DeleteIfEmpty(L"Software\\Xelo");
    }
  }

 private:
  static void DeleteIfEmpty(const wchar_t* path) {
    DWORD subkeys = 0;
    DWORD values = 0;
    {
      const KeyHandle key = OpenSubkey(HKEY_CURRENT_USER, path, KEY_READ);
      if (!key) return;
      if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return;
      }
    }
    if (subkeys == 0 && values == 0) ::RegDeleteKeyW(HKEY_CURRENT_USER, path);
  }

  std::mutex mutex_;
  OleString prefix_;
};

// ---- keys ----------------------------------------------------------------------------

// The registry path of `path` below `root`, with the testing key in front
// where HKEY_CURRENT_USER is redirected.
OleString FullPath(HKEY root, const KeyPath& path) {
  OleString full = root == HKEY_CURRENT_USER ? CurrentUserRedirect::Instance().Prefix() : OleString();
  for (const auto& part : path) {
    if (!full.empty()) full += L'\\';
    com::AppendUtf16(full, part);
  }
  return full;
}

// The key at `path`, empty when it is missing or cannot be opened with
// `access`. An empty path opens a new handle to the root itself.
KeyHandle OpenPath(HKEY root, const KeyPath& path, REGSAM access) {
  return OpenSubkey(root, FullPath(root, path).c_str(), access);
}

// Opens the key at `path`, creating it and its missing parents.
KeyHandle CreatePath(HKEY root, const KeyPath& path, REGSAM access) {
  return CreateSubkey(root, FullPath(root, path).c_str(), access);
}

// The name at `index` of what `enumerate` lists (RegEnumKeyExW or
// RegEnumValueW, whose first arguments are alike); nothing past the end or
// on an error. The buffer grows until the longest name fits.
template <typename Enumerate>
std::optional<OleString> NameAt(HKEY key, DWORD index, Enumerate enumerate) {
  OleString name(256, L'\0');
  while (name.size() <= kLongestName) {
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS status = enumerate(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
      name.resize(name.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) return std::nullopt;
    name.resize(length);
    return name;
  }
  return std::nullopt;
}

std::optional<OleString> SubkeyAt(HKEY key, DWORD index) { return NameAt(key, index, ::RegEnumKeyExW); }
std::optional<OleString> ValueNameAt(HKEY key, DWORD index) { return NameAt(key, index, ::RegEnumValueW); }

// Registry names compare as the registry compares them: ordinal, ignoring
// case, beyond ASCII too.
bool SameRegistryName(const OleString& a, const OleString& b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// ---- values ----------------------------------------------------------------------------

// A value name as the registry takes it; nothing for a name that it cannot
// hold (the functions take NUL-terminated names).
std::optional<OleString> WideValueName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  return com::ToUtf16(name);
}

struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

std::optional<RawValue> QueryValue(HKEY root, const KeyPath& path, std::string_view name) {
  const auto wideName = WideValueName(name);
  if (!wideName) return std::nullopt;
  const KeyHandle key = OpenPath(root, path, KEY_QUERY_VALUE);
  if (!key) return std::nullopt;
  RawValue value;
  value.data.resize(64);
  // The value may grow between asking for its size and reading it.
  for (;;) {
    DWORD size = static_cast<DWORD>(value.data.size());
    const LSTATUS status =
        ::RegQueryValueExW(key.Get(), wideName->c_str(), nullptr, &value.type, value.data.data(), &size);
    if (status == ERROR_MORE_DATA) {
      value.data.resize(std::max<std::size_t>(size, value.data.size() * 2));
      continue;
    }
    if (status != ERROR_SUCCESS) return std::nullopt;
    value.data.resize(size);
    return value;
  }
}

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

bool IsInteger(const RawValue& value) { return value.type == REG_DWORD && value.data.size() == sizeof(DWORD); }

// The text of a string value without its terminating NUL; a NUL inside the
// text stays.
std::string StringOf(const RawValue& value) {
  OleString text(value.data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return com::ToUtf8(OleStringView(text));
}

}  // namespace

// ---- TRegistry -------------------------------------------------------------------

bool TRegistry::Open(std::string_view key, bool canCreate, bool readOnly) {
  KeyPath path = AbsolutePath(key);
  if (!AreValidKeyNames(path)) return false;
  bool found = static_cast<bool>(OpenPath(rootKey_, path, KEY_READ));
  if (!found && canCreate && rootKey_ == HKEY_CURRENT_USER) {
    found = static_cast<bool>(CreatePath(rootKey_, path, KEY_READ));
  }
  if (!found) return false;
  currentPath_ = std::move(path);
  hasCurrentKey_ = true;
  readOnly_ = readOnly;
  return true;
}

bool TRegistry::CreateKey(std::string_view key) {
  const KeyPath path = AbsolutePath(key);
  if (!AreValidKeyNames(path)) return false;
  if (rootKey_ != HKEY_CURRENT_USER) return KeyExists(key);
  return static_cast<bool>(CreatePath(rootKey_, path, KEY_READ));
}

bool TRegistry::DeleteKey(std::string_view key) {
  const KeyPath path = AbsolutePath(key);
  if (path.empty() || rootKey_ != HKEY_CURRENT_USER || !AreValidKeyNames(path)) return false;
  const KeyHandle parent = OpenPath(rootKey_, KeyPath(path.begin(), path.end() - 1), KEY_READ | KEY_WRITE);
  // Removes the key itself too, as its name is given.
  return parent && ::RegDeleteTreeW(parent.Get(), com::ToUtf16(path.back()).c_str()) == ERROR_SUCCESS;
}

bool TRegistry::KeyExists(std::string_view key) const {
  const KeyPath path = AbsolutePath(key);
  return AreValidKeyNames(path) && static_cast<bool>(OpenPath(rootKey_, path, KEY_READ));
}

bool TRegistry::HasSubKeys() const {
  const KeyHandle key = OpenPath(rootKey_, currentPath_, KEY_READ);
  DWORD subkeys = 0;
  return key &&
         ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys > 0;
}

// The registry opens keys by any spelling of their names and tells a key's
// stored spelling only when its parent lists it: looked up here, on demand,
// rather than at every open (a walk over HKEY_CLASSES_ROOT opens thousands).
// A name that cannot be found (the key is gone) keeps the spelling it was
// opened with.
std::string TRegistry::GetCurrentPath() const {
  KeyPath stored;
  KeyHandle parent = OpenPath(rootKey_, {}, KEY_READ);
  for (const auto& part : currentPath_) {
    const OleString wanted = com::ToUtf16(part);
    std::optional<OleString> found;
    for (DWORD index = 0; parent && !found; ++index) {
      const auto name = SubkeyAt(parent.Get(), index);
      if (!name) break;
      if (SameRegistryName(*name, wanted)) found = name;
    }
    stored.push_back(found ? com::ToUtf8(OleStringView(*found)) : part);
    parent = found ? OpenSubkey(parent.Get(), found->c_str(), KEY_READ) : KeyHandle();
  }
  return JoinPath(stored);
}

bool TRegistry::ValueExists(std::string_view name) const {
  return QueryValue(rootKey_, currentPath_, name).has_value();
}

TRegDataType TRegistry::GetDataType(std::string_view name) const {
  const auto value = QueryValue(rootKey_, currentPath_, name);
  if (!value) return TRegDataType::rdUnknown;
  if (IsString(value->type)) return TRegDataType::rdString;
  return IsInteger(*value) ? TRegDataType::rdInteger : TRegDataType::rdUnknown;
}

std::string TRegistry::ReadString(std::string_view name) const {
  const auto value = QueryValue(rootKey_, currentPath_, name);
  if (!value) return {};
  if (!IsString(value->type)) InvalidDataType(name);
  return StringOf(*value);
}

std::int32_t TRegistry::ReadInteger(std::string_view name) const {
  const auto value = QueryValue(rootKey_, currentPath_, name);
  if (!value || !IsInteger(*value)) InvalidDataType(name);
  DWORD bits = 0;
  std::memcpy(&bits, value->data.data(), sizeof bits);
  return static_cast<std::int32_t>(bits);
}

void TRegistry::WriteValue(std::string_view name, TRegDataType type, std::string_view text, std::int32_t number) {
  CheckWritable(name);
  const auto wideName = WideValueName(name);
  if (!wideName) SetDataFailed(name);
  const KeyHandle key = OpenPath(rootKey_, currentPath_, KEY_SET_VALUE);
  if (!key) SetDataFailed(name);
  LSTATUS status = ERROR_SUCCESS;
  if (type == TRegDataType::rdInteger) {
    const DWORD bits = static_cast<DWORD>(number);
    status = ::RegSetValueExW(key.Get(), wideName->c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bits),
                              sizeof bits);
  } else {
    const OleString wide = com::ToUtf16(text);
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);  // with the terminating NUL
    if (bytes > MAXDWORD) SetDataFailed(name);
    status = ::RegSetValueExW(key.Get(), wideName->c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                              static_cast<DWORD>(bytes));
  }
  if (status != ERROR_SUCCESS) SetDataFailed(name);
}

bool TRegistry::DeleteValue(std::string_view name) {
  if (rootKey_ != HKEY_CURRENT_USER || readOnly_) return false;
  const auto wideName = WideValueName(name);
  if (!wideName) return false;
  const KeyHandle key = OpenPath(rootKey_, currentPath_, KEY_SET_VALUE);
  return key && ::RegDeleteValueW(key.Get(), wideName->c_str()) == ERROR_SUCCESS;
}

void TRegistry::GetKeyNames(TStrings& strings) const {
  std::vector<std::string> names;
  if (const KeyHandle key = OpenPath(rootKey_, currentPath_, KEY_READ)) {
    for (DWORD index = 0;; ++index) {
      const auto name = SubkeyAt(key.Get(), index);
      if (!name) break;
      names.push_back(com::ToUtf8(OleStringView(*name)));
    }
  }
  AssignNames(strings, names);
}

void TRegistry::GetValueNames(TStrings& strings) const {
  std::vector<std::string> names;
  if (const KeyHandle key = OpenPath(rootKey_, currentPath_, KEY_READ)) {
    for (DWORD index = 0;; ++index) {
      const auto name = ValueNameAt(key.Get(), index);
      if (!name) break;
      names.push_back(com::ToUtf8(OleStringView(*name)));
    }
  }
  AssignNames(strings, names);
}

bool TRegistry::EnumKey(int index, std::string& name) const {
  if (index < 0) return false;
  const KeyHandle key = OpenPath(rootKey_, currentPath_, KEY_READ);
  const auto found = key ? SubkeyAt(key.Get(), static_cast<DWORD>(index)) : std::nullopt;
  if (!found) return false;
  name = com::ToUtf8(OleStringView(*found));
  return true;
}

// ---- free functions ----------------------------------------------------------------

std::string SettingsFileName() {
  const OleString prefix = CurrentUserRedirect::Instance().Prefix();
  return prefix.empty() ? std::string("HKEY_CURRENT_USER") : "HKEY_CURRENT_USER\\" + com::ToUtf8(OleStringView(prefix));
}

void SetSettingsDirectoryForTesting(const std::string& directory) {
  CurrentUserRedirect::Instance().Redirect(!directory.empty());
}

void ReloadSettingsForTesting() {}

}  // namespace xelo
