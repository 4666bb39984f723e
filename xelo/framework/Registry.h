// TRegistry: hierarchical keys holding named values, under two roots.
//
// On Windows with Windows' own COM (XELO_COM_NATIVE), both roots are the
// real registry's: HKEY_CURRENT_USER is the user's HKCU, HKEY_CLASSES_ROOT
// the system's HKCR, where Windows' COM finds its servers. TRegistry reads
// HKCR only (the class keys are written by those who register classes).
// Texts are UTF-8 here and UTF-16 in the registry; strings are stored as
// REG_SZ, integers as REG_DWORD, and REG_EXPAND_SZ values read as strings,
// unexpanded. Other value types exist (ValueExists) but are of an unknown
// type. Subkeys and values are listed in the registry's own order: subkeys
// by name, ignoring case; values in an order of the registry's choosing
// (Windows: mostly as they were created; Wine: by name).
//
// Everywhere else (the portable COM runtime) the roots are the library's
// own, as follows.
//
// HKEY_CURRENT_USER is the per-user settings store: a tree of keys and
// values kept in one process-wide copy, loaded from its file on first use and
// written back after every change. The file is
//     $XDG_CONFIG_HOME/xelo/settings.txt   (else ~/.config/xelo/settings.txt)
// resolved when the store is loaded, so setting XDG_CONFIG_HOME before the
// first use moves it; tests use SetSettingsDirectoryForTesting instead. The
// file is replaced atomically (WriteFileAtomically), so a crash while saving
// leaves the previous contents. A file that cannot be read or does not parse
// is treated as empty (and is replaced by the next change).
//
// HKEY_CLASSES_ROOT is a read-only view of the COM class registry
// (xelo::com::ClassRegistry), laid out as the registry's class keys are:
//   <ProgID>                 default value: user type name
//     CLSID                  default value: "{class id}"
//     OPC                    present only for registrations with hasOpcKey
//   CLSID\{class id}         default value: user type name
//     Implemented Categories\{category id}   one key per category (if any)
//     ProgID                 default value: the ProgID
// The top-level keys are the ProgIDs in the class registry's order, then
// "CLSID". The view follows the class registry as it changes. (On Windows'
// registry, HKCR is what it is: all of its keys, in its own order.)
//
// The rest holds for both.
//
// Keys are addressed by paths with backslashes; a path starting with a
// backslash starts at the root, others at the open key (or at the root when
// none is open). Key names compare case-insensitively (ASCII; on Windows'
// registry, as it compares them, beyond ASCII too) and keep the case they
// were created with; they cannot contain control characters and
// are at most 255 bytes. The default value of a key is the value named "".
// Value operations with no key open act on the root key.
// Windows' registry takes no value name with a NUL in it: writing one
// fails, reading one finds nothing.
//
// Contract: a TRegistry object is used by one thread at a time; the settings
// store behind it is shared by all TRegistry objects of the process and is
// thread-safe, each object seeing the others' writes at once.
// Errors: writes that cannot be done (under HKEY_CLASSES_ROOT, through a key
// opened read-only, or to a key that was deleted meanwhile) raise
// ERegistryException "Failed to set data for 'NAME'"; reading a value as the
// wrong type raises ERegistryException "Invalid data type for 'NAME'"; a
// settings file that cannot be written raises ERegistryException with the
// file error's text, the store keeping its state from before the change. On
// Windows' registry, a write the registry refuses (access denied) raises
// "Failed to set data for 'NAME'" too, and a key it does not let this user
// open or create counts as missing.
// Functions returning bool report a missing key or a refused change by false.
#pragma once

#include "xelo/com/WinTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xelo {

class TStrings;

// A root key handle. Only the predefined roots exist; open keys are
// represented by TRegistry objects.
#if XELO_COM_NATIVE
using HKEY = ::HKEY;  // and the SDK's HKEY_CLASSES_ROOT, HKEY_CURRENT_USER
#else
enum class HKEY : std::uintptr_t {};
inline constexpr HKEY HKEY_CLASSES_ROOT = HKEY{0x80000000u};
inline constexpr HKEY HKEY_CURRENT_USER = HKEY{0x80000001u};
#endif

enum class TRegDataType { rdUnknown, rdString, rdInteger };

class TRegistry {
 public:
  // Starts at HKEY_CURRENT_USER with no key open.
  TRegistry();
  explicit TRegistry(HKEY rootKey);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY GetRootKey() const { return rootKey_; }
  // Closes the open key. Raises ERegistryException for a handle that is not
  // one of the predefined roots.
  void SetRootKey(HKEY rootKey);

  // Opens `key`, creating it (and its parents) when missing and `canCreate`
  // is set. False when it does not exist and is not created, or cannot be
  // created (read-only root, invalid name); raises when the settings file
  // cannot be written.
  bool OpenKey(std::string_view key, bool canCreate);
  // Opens an existing key; writing or deleting its values through this
  // object then fails.
  bool OpenKeyReadOnly(std::string_view key);
  void CloseKey();
  bool CreateKey(std::string_view key);
  // Deletes the key with all its subkeys and values.
  bool DeleteKey(std::string_view key);
  bool KeyExists(std::string_view key) const;
  bool HasSubKeys() const;

  // The open key's path from the root (without a leading backslash), with
  // the stored spelling of each name; empty when no key is open.
  std::string GetCurrentPath() const;
  std::string CurrentPath() const { return GetCurrentPath(); }
  bool HasCurrentKey() const { return hasCurrentKey_; }

  bool ValueExists(std::string_view name) const;
  TRegDataType GetDataType(std::string_view name) const;
  // A missing value reads as the empty text.
  std::string ReadString(std::string_view name) const;
  void WriteString(std::string_view name, std::string_view value);
  // A missing value raises "Invalid data type for 'NAME'".
  std::int32_t ReadInteger(std::string_view name) const;
  void WriteInteger(std::string_view name, std::int32_t value);
  bool ReadBool(std::string_view name) const { return ReadInteger(name) != 0; }
  void WriteBool(std::string_view name, bool value) { WriteInteger(name, value ? 1 : 0); }
  bool DeleteValue(std::string_view name);

  // Names of the open key's subkeys (in enumeration order) / values (in the
  // order they were first written; on Windows' registry, its own order).
  void GetKeyNames(TStrings& strings) const;
  void GetValueNames(TStrings& strings) const;
  // The subkey at `index` of the open key (or the root); false past the end.
  bool EnumKey(int index, std::string& name) const;

 private:
  std::vector<std::string> AbsolutePath(std::string_view key) const;
  bool Open(std::string_view key, bool canCreate, bool readOnly);
  void CheckWritable(std::string_view valueName) const;
  // Stores one value (string: `text`, integer: `number`) at the current key.
  void WriteValue(std::string_view name, TRegDataType type, std::string_view text, std::int32_t number);

  HKEY rootKey_ = HKEY_CURRENT_USER;
  std::vector<std::string> currentPath_;
  bool hasCurrentKey_ = false;
  bool readOnly_ = false;
};

// Low-level enumeration of a root's top-level keys by index, as a caller
// walks HKEY_CLASSES_ROOT looking for class keys: `name` receives the key's
// name; false when there is no key at `index` (or the root is unknown).
// To test a key for a subkey, open it read-only with TRegistry and ask
// KeyExists (for instance KeyExists("OPC")).
bool EnumKey(HKEY rootKey, int index, std::string& name);

// Where the settings store lives (empty when no home directory is known; the
// store then works in memory only). On Windows' registry: the key that
// HKEY_CURRENT_USER stands for, "HKEY_CURRENT_USER" (or, while tests
// redirect it, "HKEY_CURRENT_USER\Software\Xelo\Testing\<process id>").
std::string SettingsFileName();

// Test seams. SetSettingsDirectoryForTesting makes the store use
// `directory`/settings.txt (empty: the normal location again) and drops the
// in-memory copy; ReloadSettingsForTesting drops the in-memory copy, so that
// the next use reads the file as a new process would.
// On Windows' registry, a non-empty `directory` (whatever its text) makes
// HKEY_CURRENT_USER of every TRegistry the private key
// HKCU\Software\Xelo\Testing\<process id>, so that tests never touch the
// user's settings; the key starts empty when the redirection begins (and
// stays as it is on further calls). The empty text deletes that key (and its
// parents, once empty) and returns to the real HKCU. HKEY_CLASSES_ROOT is
// not redirected. ReloadSettingsForTesting does nothing there: the registry
// has no copy to drop.
void SetSettingsDirectoryForTesting(const std::string& directory);
void ReloadSettingsForTesting();

}  // namespace xelo
