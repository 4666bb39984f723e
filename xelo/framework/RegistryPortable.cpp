// TRegistry on the library's own stores, for builds on the portable COM
// runtime: HKEY_CURRENT_USER is the settings file, HKEY_CLASSES_ROOT a view
// of the in-process class registry (see Registry.h).
#include "xelo/framework/Registry.h"

#include "xelo/com/ClassRegistry.h"
#include "xelo/com/Guid.h"
#include "xelo/framework/AtomicFile.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/RegistryCommon.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/Strings.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/platform/Platform.h"

#include <algorithm>
#include <mutex>
#include <optional>

namespace xelo {

using namespace registry;

namespace {

// ---- the tree of keys --------------------------------------------------------

struct RegValue {
  std::string name;
  TRegDataType type = TRegDataType::rdString;
  std::string text;
  std::int32_t number = 0;
};

struct RegKey {
  std::string name;
  std::vector<RegValue> values;   // in the order they were first written
  std::vector<RegKey> subkeys;    // settings: sorted by name; class view: registry order

  const RegKey* FindSubkey(std::string_view n) const {
    const auto it = std::find_if(subkeys.begin(), subkeys.end(), [&](const RegKey& k) { return SameText(k.name, n); });
    return it == subkeys.end() ? nullptr : &*it;
  }
  RegKey* FindSubkey(std::string_view n) {
    return const_cast<RegKey*>(static_cast<const RegKey*>(this)->FindSubkey(n));
  }
  const RegValue* FindValue(std::string_view n) const {
    const auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return SameText(v.name, n); });
    return it == values.end() ? nullptr : &*it;
  }
  RegValue* FindValue(std::string_view n) {
    return const_cast<RegValue*>(static_cast<const RegKey*>(this)->FindValue(n));
  }
};

// Finds the key at `path`; `canonical` (if given) receives the stored names.
const RegKey* FindKey(const RegKey& root, const KeyPath& path, KeyPath* canonical = nullptr) {
  const RegKey* key = &root;
  if (canonical != nullptr) canonical->clear();
  for (const auto& part : path) {
    key = key->FindSubkey(part);
    if (key == nullptr) return nullptr;
    if (canonical != nullptr) canonical->push_back(key->name);
  }
  return key;
}

RegKey* FindKey(RegKey& root, const KeyPath& path) {
  return const_cast<RegKey*>(FindKey(static_cast<const RegKey&>(root), path));
}

// Creates the missing keys along `path` (names already validated); keeps
// subkeys sorted case-insensitively, the order in which the registry
// enumerates them.
RegKey* CreateKeyPath(RegKey& root, const KeyPath& path, bool& created, KeyPath* canonical = nullptr) {
  RegKey* key = &root;
  created = false;
  if (canonical != nullptr) canonical->clear();
  for (const auto& part : path) {
    RegKey* sub = key->FindSubkey(part);
    if (sub == nullptr) {
      const auto at = std::lower_bound(key->subkeys.begin(), key->subkeys.end(), part,
                                       [](const RegKey& k, const std::string& n) { return CompareText(k.name, n) < 0; });
      sub = &*key->subkeys.insert(at, RegKey{part, {}, {}});
      created = true;
    }
    if (canonical != nullptr) canonical->push_back(sub->name);
    key = sub;
  }
  return key;
}

// ---- the text form of the settings file --------------------------------------
//
//   Xelo Settings 1
//   "value of the root"="text"
//   [Software\Tavri\XELO]
//   "TEdit"="Hint"
//   @="the key's default value"
//   "Count"=dword:0000000a
//
// Values follow the key header they belong to; texts are quoted with
// backslash escapes, so every line is printable and a value may hold any
// bytes. Lines starting with ';' are comments.

constexpr std::string_view kHeader = "Xelo Settings 1";

std::string QuoteSettingsText(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out += "\\x";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

void WriteValues(const RegKey& key, std::string& out) {
  for (const auto& value : key.values) {
    out += value.name.empty() ? std::string("@") : QuoteSettingsText(value.name);
    out += '=';
    if (value.type == TRegDataType::rdInteger) {
      out += "dword:" + LowerCase(IntToHex(value.number, 8));
    } else {
      out += QuoteSettingsText(value.text);
    }
    out += '\n';
  }
}

void WriteKeys(const RegKey& key, KeyPath& path, std::string& out) {
  for (const auto& sub : key.subkeys) {
    path.push_back(sub.name);
    out += "\n[" + JoinPath(path) + "]\n";
    WriteValues(sub, out);
    WriteKeys(sub, path, out);
    path.pop_back();
  }
}

std::string SerializeSettings(const RegKey& root) {
  std::string out(kHeader);
  out += "\n; Per-user settings of the Xelo library: [key paths] followed by their\n"
         "; values, \"name\"=\"text\" or \"name\"=dword:hex; @ names the default value.\n";
  WriteValues(root, out);
  KeyPath path;
  WriteKeys(root, path, out);
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at `i`, advancing past it.
bool ParseQuoted(std::string_view line, std::size_t& i, std::string& text) {
  if (i >= line.size() || line[i] != '"') return false;
  ++i;
  text.clear();
  while (i < line.size()) {
    const char c = line[i++];
    if (c == '"') return true;
    if (c != '\\') {
      text += c;
      continue;
    }
    if (i >= line.size()) return false;
    const char e = line[i++];
    switch (e) {
      case '\\': text += '\\'; break;
      case '"': text += '"'; break;
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      case 't': text += '\t'; break;
      case 'x': {
        if (i + 2 > line.size()) return false;
        const int high = HexValue(line[i]);
        const int low = HexValue(line[i + 1]);
        if (high < 0 || low < 0) return false;
        text += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;  // unterminated
}

bool ParseValueLine(std::string_view line, RegKey& key) {
  std::size_t i = 0;
  RegValue value;
  if (!line.empty() && line[0] == '@') {
    i = 1;
  } else if (!ParseQuoted(line, i, value.name)) {
    return false;
  }
  if (i >= line.size() || line[i] != '=') return false;
  ++i;
  const std::string_view data = line.substr(i);
  if (data.starts_with("dword:")) {
    const std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return HexValue(c) >= 0; })) {
      return false;
    }
    value.type = TRegDataType::rdInteger;
    value.number = StrToInt("$" + std::string(digits));
  } else {
    value.type = TRegDataType::rdString;
    if (!ParseQuoted(line, i, value.text) || i != line.size()) return false;
  }
  if (RegValue* existing = key.FindValue(value.name)) {
    *existing = std::move(value);
  } else {
    key.values.push_back(std::move(value));
  }
  return true;
}

// Parses the whole file; false (and a partly filled tree the caller drops)
// for anything that is not exactly the text form above.
bool ParseSettings(std::string_view text, RegKey& root) {
  if (text.empty()) return true;
  RegKey* current = &root;
  bool first = true;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      if (line != kHeader) return false;
      first = false;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.size() < 2 || line.back() != ']') return false;
      const std::string_view inner = line.substr(1, line.size() - 2);
      KeyPath path;
      std::size_t s = 0;
      while (!inner.empty() && s <= inner.size()) {
        const std::size_t e = std::min(inner.find('\\', s), inner.size());
        const std::string_view part = inner.substr(s, e - s);
        if (!IsValidKeyName(part)) return false;
        path.emplace_back(part);
        s = e + 1;
      }
      bool created = false;
      current = CreateKeyPath(root, path, created);
      continue;
    }
    if (!ParseValueLine(line, *current)) return false;
  }
  return true;
}

// ---- the per-user settings store ------------------------------------------------

std::string DefaultSettingsDirectory() { return platform::UserSettingsDirectory("xelo"); }

// Creates `directory` and its missing parents; failures show up when the
// file is written.
void MakeDirectories(const std::string& directory) {
  for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string prefix = directory.substr(0, slash);
    platform::MakeDirectory(prefix);
    if (slash == std::string::npos) break;
  }
}

class SettingsStore {
 public:
  static SettingsStore& Instance() {
    static SettingsStore store;
    return store;
  }

  template <typename F>
  auto Read(F&& read) {
    std::lock_guard lock(mutex_);
    EnsureLoaded();
    return read(static_cast<const RegKey&>(root_));
  }

  // `modify` changes the tree and returns whether it changed anything; a
  // change is saved at once, and undone when it cannot be saved.
  template <typename F>
  bool Modify(F&& modify) {
    std::lock_guard lock(mutex_);
    EnsureLoaded();
    RegKey backup = root_;
    if (!modify(root_)) return false;
    try {
      Save();
    } catch (...) {
      root_ = std::move(backup);
      throw;
    }
    return true;
  }

  std::string FileName() {
    std::lock_guard lock(mutex_);
    return ResolveFileName();
  }

  void SetDirectory(const std::string& directory) {
    std::lock_guard lock(mutex_);
    directoryOverride_ = directory;
    Drop();
  }

  void Reload() {
    std::lock_guard lock(mutex_);
    Drop();
  }

 private:
  std::string ResolveFileName() const {
    const std::string directory = directoryOverride_.empty() ? DefaultSettingsDirectory() : directoryOverride_;
    return directory.empty() ? std::string() : directory + "/settings.txt";
  }

  void Drop() {
    loaded_ = false;
    root_ = RegKey{};
  }

  void EnsureLoaded() {
    if (loaded_) return;
    fileName_ = ResolveFileName();
    root_ = RegKey{};
    loaded_ = true;
    if (fileName_.empty()) return;
    std::string text;
    try {
      TFileStream file(fileName_, fmOpenRead);
      text = file.ReadRemaining();
    } catch (const EStreamError&) {
      return;  // missing or unreadable: no settings yet
    }
    RegKey parsed;
    if (ParseSettings(text, parsed)) root_ = std::move(parsed);
  }

  void Save() {
    if (fileName_.empty()) return;
    const auto slash = fileName_.find_last_of('/');
    if (slash != std::string::npos && slash > 0) MakeDirectories(fileName_.substr(0, slash));
    try {
      WriteFileAtomically(fileName_, SerializeSettings(root_));
    } catch (const EFCreateError& e) {
      throw ERegistryException(e.Message());
    }
  }

  std::mutex mutex_;
  RegKey root_;
  bool loaded_ = false;
  std::string fileName_;           // the file the tree was loaded from
  std::string directoryOverride_;  // set by tests
};

// ---- the class-root view -------------------------------------------------------

RegKey DefaultValueKey(std::string name, std::string defaultValue) {
  RegKey key{std::move(name), {}, {}};
  key.values.push_back(RegValue{"", TRegDataType::rdString, std::move(defaultValue), 0});
  return key;
}

// A snapshot of the class registrations laid out as registry keys. Built per
// call: the class registry is small and changes while servers register.
RegKey BuildClassesRoot() {
  RegKey root;
  RegKey clsidRoot{"CLSID", {}, {}};
  for (const auto& reg : com::ClassRegistry::Instance().All()) {
    const std::string clsid = com::GuidToString(reg.clsid);
    // A ProgID spelled "CLSID" would hide the class-id key; the registry
    // cannot hold two keys of one name, so that registration is left out.
    if (!SameText(reg.progId, "CLSID") && root.FindSubkey(reg.progId) == nullptr) {
      RegKey prog = DefaultValueKey(reg.progId, reg.userTypeName);
      prog.subkeys.push_back(DefaultValueKey("CLSID", clsid));
      if (reg.hasOpcKey) prog.subkeys.push_back(RegKey{"OPC", {}, {}});
      root.subkeys.push_back(std::move(prog));
    }
    RegKey byId = DefaultValueKey(clsid, reg.userTypeName);
    if (!reg.categories.empty()) {
      RegKey categories{"Implemented Categories", {}, {}};
      for (const auto& category : reg.categories) {
        const std::string id = com::GuidToString(category);
        if (categories.FindSubkey(id) == nullptr) categories.subkeys.push_back(RegKey{id, {}, {}});
      }
      byId.subkeys.push_back(std::move(categories));
    }
    byId.subkeys.push_back(DefaultValueKey("ProgID", reg.progId));
    clsidRoot.subkeys.push_back(std::move(byId));
  }
  std::sort(clsidRoot.subkeys.begin(), clsidRoot.subkeys.end(),
            [](const RegKey& a, const RegKey& b) { return CompareText(a.name, b.name) < 0; });
  root.subkeys.push_back(std::move(clsidRoot));
  return root;
}

// Runs a read-only `read(const RegKey& root)` against the tree of `rootKey`.
template <typename F>
auto ReadRoot(HKEY rootKey, F&& read) {
  if (rootKey == HKEY_CLASSES_ROOT) {
    const RegKey snapshot = BuildClassesRoot();
    return read(snapshot);
  }
  return SettingsStore::Instance().Read(std::forward<F>(read));
}

}  // namespace

// ---- TRegistry -------------------------------------------------------------------

bool TRegistry::Open(std::string_view key, bool canCreate, bool readOnly) {
  const KeyPath path = AbsolutePath(key);
  if (!AreValidKeyNames(path)) return false;
  KeyPath canonical;
  bool found = ReadRoot(rootKey_, [&](const RegKey& root) { return FindKey(root, path, &canonical) != nullptr; });
  if (!found && canCreate && rootKey_ == HKEY_CURRENT_USER) {
    SettingsStore::Instance().Modify([&](RegKey& root) {
      bool created = false;
      CreateKeyPath(root, path, created, &canonical);
      return created;
    });
    found = true;
  }
  if (!found) return false;
  currentPath_ = std::move(canonical);
  hasCurrentKey_ = true;
  readOnly_ = readOnly;
  return true;
}

bool TRegistry::CreateKey(std::string_view key) {
  const KeyPath path = AbsolutePath(key);
  if (!AreValidKeyNames(path)) return false;
  if (rootKey_ != HKEY_CURRENT_USER) return KeyExists(key);
  SettingsStore::Instance().Modify([&](RegKey& root) {
    bool created = false;
    CreateKeyPath(root, path, created);
    return created;
  });
  return true;
}

bool TRegistry::DeleteKey(std::string_view key) {
  const KeyPath path = AbsolutePath(key);
  if (path.empty() || rootKey_ != HKEY_CURRENT_USER) return false;
  const KeyPath parentPath(path.begin(), path.end() - 1);
  return SettingsStore::Instance().Modify([&](RegKey& root) {
    RegKey* parent = FindKey(root, parentPath);
    if (parent == nullptr) return false;
    const auto before = parent->subkeys.size();
    std::erase_if(parent->subkeys, [&](const RegKey& k) { return SameText(k.name, path.back()); });
    return parent->subkeys.size() != before;
  });
}

bool TRegistry::KeyExists(std::string_view key) const {
  const KeyPath path = AbsolutePath(key);
  return ReadRoot(rootKey_, [&](const RegKey& root) { return FindKey(root, path) != nullptr; });
}

bool TRegistry::HasSubKeys() const {
  return ReadRoot(rootKey_, [&](const RegKey& root) {
    const RegKey* k = FindKey(root, currentPath_);
    return k != nullptr && !k->subkeys.empty();
  });
}

std::string TRegistry::GetCurrentPath() const { return JoinPath(currentPath_); }

bool TRegistry::ValueExists(std::string_view name) const { return GetDataType(name) != TRegDataType::rdUnknown; }

TRegDataType TRegistry::GetDataType(std::string_view name) const {
  return ReadRoot(rootKey_, [&](const RegKey& root) {
    const RegKey* k = FindKey(root, currentPath_);
    const RegValue* v = k == nullptr ? nullptr : k->FindValue(name);
    return v == nullptr ? TRegDataType::rdUnknown : v->type;
  });
}

std::string TRegistry::ReadString(std::string_view name) const {
  const std::optional<RegValue> value = ReadRoot(rootKey_, [&](const RegKey& root) -> std::optional<RegValue> {
    const RegKey* k = FindKey(root, currentPath_);
    const RegValue* v = k == nullptr ? nullptr : k->FindValue(name);
    if (v == nullptr) return std::nullopt;
    return *v;
  });
  if (!value) return {};
  if (value->type != TRegDataType::rdString) InvalidDataType(name);
  return value->text;
}

std::int32_t TRegistry::ReadInteger(std::string_view name) const {
  const std::optional<std::int32_t> value = ReadRoot(rootKey_, [&](const RegKey& root) -> std::optional<std::int32_t> {
    const RegKey* k = FindKey(root, currentPath_);
    const RegValue* v = k == nullptr ? nullptr : k->FindValue(name);
    if (v == nullptr || v->type != TRegDataType::rdInteger) return std::nullopt;
    return v->number;
  });
  if (!value) InvalidDataType(name);
  return *value;
}

void TRegistry::WriteValue(std::string_view name, TRegDataType type, std::string_view text, std::int32_t number) {
  CheckWritable(name);
  bool keyMissing = false;
  SettingsStore::Instance().Modify([&](RegKey& root) {
    RegKey* k = FindKey(root, currentPath_);
    if (k == nullptr) {
      keyMissing = true;
      return false;
    }
    RegValue* v = k->FindValue(name);
    // An unchanged value does not touch the file.
    if (v != nullptr && v->type == type && v->text == text && v->number == number) return false;
    if (v == nullptr) v = &k->values.emplace_back(RegValue{std::string(name), type, {}, 0});
    v->type = type;
    v->text = std::string(text);
    v->number = number;
    return true;
  });
  if (keyMissing) SetDataFailed(name);
}

bool TRegistry::DeleteValue(std::string_view name) {
  if (rootKey_ != HKEY_CURRENT_USER || readOnly_) return false;
  return SettingsStore::Instance().Modify([&](RegKey& root) {
    RegKey* k = FindKey(root, currentPath_);
    if (k == nullptr) return false;
    const auto before = k->values.size();
    std::erase_if(k->values, [&](const RegValue& v) { return SameText(v.name, name); });
    return k->values.size() != before;
  });
}

void TRegistry::GetKeyNames(TStrings& strings) const {
  AssignNames(strings, ReadRoot(rootKey_, [&](const RegKey& root) {
                std::vector<std::string> result;
                if (const RegKey* k = FindKey(root, currentPath_)) {
                  for (const auto& sub : k->subkeys) result.push_back(sub.name);
                }
                return result;
              }));
}

void TRegistry::GetValueNames(TStrings& strings) const {
  AssignNames(strings, ReadRoot(rootKey_, [&](const RegKey& root) {
                std::vector<std::string> result;
                if (const RegKey* k = FindKey(root, currentPath_)) {
                  for (const auto& value : k->values) result.push_back(value.name);
                }
                return result;
              }));
}

bool TRegistry::EnumKey(int index, std::string& name) const {
  if (index < 0) return false;
  const auto found = ReadRoot(rootKey_, [&](const RegKey& root) -> std::optional<std::string> {
    const RegKey* k = FindKey(root, currentPath_);
    if (k == nullptr || static_cast<std::size_t>(index) >= k->subkeys.size()) return std::nullopt;
    return k->subkeys[static_cast<std::size_t>(index)].name;
  });
  if (!found) return false;
  name = *found;
  return true;
}

// ---- free functions ----------------------------------------------------------------

std::string SettingsFileName() { return SettingsStore::Instance().FileName(); }

void SetSettingsDirectoryForTesting(const std::string& directory) { SettingsStore::Instance().SetDirectory(directory); }

void ReloadSettingsForTesting() { SettingsStore::Instance().Reload(); }

}  // namespace xelo
