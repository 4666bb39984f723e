#include "xelo/framework/Registry.h"

#include "support/ScratchDirectory.h"
#include "support/Expectations.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/Guid.h"
#include "xelo/com/WideText.h"
#include "xelo/framework/AtomicFile.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

using namespace xelo;
using xelo::testing::ReadWholeFile;
using xelo::testing::ScratchDirectory;
using xelo::testing::WriteWholeFile;
using Names = std::vector<std::string>;

using xelo::testing::MessageOf;
using xelo::testing::LinesOf;
constexpr const char* kKey = "\\Software\\Tavri\\XELO";

// A handle that is none of the predefined roots.
HKEY UnknownRoot(std::uintptr_t value) {
#if XELO_COM_NATIVE
  return reinterpret_cast<HKEY>(value);
#else
  return static_cast<HKEY>(value);
#endif
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() { SetSettingsDirectoryForTesting(dir.Path()); }
  ~SettingsStoreTest() override {
    SetAtomicWriteHookForTesting(nullptr);
    SetSettingsDirectoryForTesting(std::string());
  }

  std::string SettingsFile() const { return dir.File("settings.txt"); }

  // Writes one value under kKey (created as needed), as one change.
  static void WriteSetting(const std::string& name, const std::string& value) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteString(name, value);
  }

  // What a fresh process would read for `name` under kKey.
  std::optional<std::string> ReadAfterReload(const std::string& name) {
    ReloadSettingsForTesting();
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(kKey) || !reg.ValueExists(name)) return std::nullopt;
    return reg.ReadString(name);
  }

  ScratchDirectory dir;
};

TEST_F(SettingsStoreTest, CreatesKeysReadsWritesAndDeletesStringValuesAndResolvesPathsIgnoringCase) {
#if !XELO_COM_NATIVE
  EXPECT_EQ(SettingsFileName(), SettingsFile());
#endif
  TRegistry reg;
  EXPECT_EQ(reg.GetRootKey(), HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKey(kKey, false));
  EXPECT_FALSE(reg.HasCurrentKey());
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Tavri\\XELO");
  EXPECT_EQ(reg.ReadString("TEdit"), "");  // a missing value reads as empty
  EXPECT_FALSE(reg.ValueExists("TEdit"));
  reg.WriteString("TEdit", "Hint");
  EXPECT_TRUE(reg.ValueExists("tedit"));  // value names ignore case too
  reg.WriteString("tedit", "Text");
  EXPECT_EQ(reg.ReadString("TEDIT"), "Text");
  TRegistry other;  // objects of one process see each other's changes at once
  ASSERT_TRUE(other.OpenKey(kKey, false));
  EXPECT_TRUE(other.DeleteValue("TEdit"));
  EXPECT_FALSE(reg.DeleteValue("TEdit"));
  EXPECT_EQ(reg.ReadString("TEdit"), "");
  reg.CloseKey();
  EXPECT_EQ(reg.CurrentPath(), "");

  // Paths resolve ignoring case; the stored spelling is kept.
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\tavri\\xelo\\", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Tavri\\XELO");
  ASSERT_TRUE(reg.OpenKey("\\software", false));
  ASSERT_TRUE(reg.OpenKey("TAVRI", false));  // relative to the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\Tavri");
  EXPECT_EQ((std::vector<bool>{reg.KeyExists("xelo"), reg.KeyExists("\\Software"), reg.KeyExists("\\Tavri"),
                               reg.OpenKey("Missing", false), reg.OpenKey("Bad\x01Name", true), reg.CreateKey(std::string(256, 'k'))}),
            (std::vector<bool>{true, true, false, false, false, false}));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Tavri");  // a failed open keeps the key
}

TEST_F(SettingsStoreTest, ListsSubkeysInNameOrderAndValuesInWritingOrderAndKeepsTheirTypes) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Root", true));
  for (const char* name : {"beta", "Alpha", "gamma"}) EXPECT_TRUE(reg.CreateKey(name));
  EXPECT_TRUE(reg.CreateKey("beta\\deep\\deeper"));
  reg.WriteString("z", "1");
  reg.WriteString("", "default");
  reg.WriteInteger("a", 2);
  TStringList names;
  reg.GetKeyNames(names);
  EXPECT_EQ(LinesOf(names), (Names{"Alpha", "beta", "gamma"}));
  EXPECT_TRUE(reg.HasSubKeys());
  reg.GetValueNames(names);
#if XELO_COM_NATIVE
  // Windows' registry lists values in an order of its own (Wine's: by name).
  Names values = LinesOf(names);
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (Names{"", "a", "z"}));
#else
  EXPECT_EQ(LinesOf(names), (Names{"z", "", "a"}));
#endif
  std::string name;
  EXPECT_TRUE(reg.EnumKey(2, name) && name == "gamma");
  EXPECT_FALSE(reg.EnumKey(3, name));

  // Deleted with its subkeys.
  EXPECT_EQ((std::vector<bool>{reg.DeleteKey("BETA"), reg.DeleteKey("beta"), reg.KeyExists("beta\\deep")}),
            (std::vector<bool>{true, false, false}));
  reg.GetKeyNames(names);
  EXPECT_EQ(LinesOf(names), (Names{"Alpha", "gamma"}));

  // Integers are kept apart from strings.
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteInteger("Width", -5);
  reg.WriteBool("Visible", true);
  EXPECT_EQ(reg.ReadInteger("Width"), -5);
  EXPECT_TRUE(reg.ReadBool("Visible"));
  EXPECT_EQ(reg.GetDataType("Width"), TRegDataType::rdInteger);
  EXPECT_EQ(reg.GetDataType("None"), TRegDataType::rdUnknown);
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.ReadString("Width"); }), "Invalid data type for 'Width'");
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.ReadInteger("None"); }), "Invalid data type for 'None'");
  reg.WriteString("Width", "wide");
  EXPECT_EQ(reg.GetDataType("Width"), TRegDataType::rdString);
}

TEST_F(SettingsStoreTest, RefusesWritesThroughAKeyOpenedReadOnlyOrDeleted) {
  TRegistry writer;
  ASSERT_TRUE(writer.OpenKey(kKey, true));
  writer.WriteString("Kept", "yes");
  TRegistry reader;
  ASSERT_TRUE(reader.OpenKeyReadOnly(kKey));
  EXPECT_FALSE(reader.OpenKeyReadOnly("\\Nowhere") || reader.DeleteValue("Kept"));
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reader.WriteString("X", "1"); }), "Failed to set data for 'X'");
  EXPECT_EQ(reader.ReadString("Kept"), "yes");

  TRegistry other;
  ASSERT_TRUE(other.OpenKey("\\Software\\Tavri", false));
  EXPECT_TRUE(other.DeleteKey("XELO"));
  EXPECT_EQ(MessageOf<ERegistryException>([&] { writer.WriteString("Y", "1"); }), "Failed to set data for 'Y'");
  EXPECT_FALSE(writer.KeyExists(kKey));
}

#if !XELO_COM_NATIVE  // the settings file; Windows' registry has none
TEST_F(SettingsStoreTest, SurvivesAReloadOfItsFileWithAnyTextAndStructure) {
  const std::string tricky[] = {"", "plain", "with \"quotes\" and \\backslashes\\", "lines\r\nand\ttabs\x01\x7F",
                                "[not a key]", "@", "=\"", "\xC3\xA4\xE2\x82\xAC", std::string("nul\0inside", 10)};
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    for (std::size_t i = 0; i < std::size(tricky); ++i) reg.WriteString(tricky[i], tricky[(i + 1) % std::size(tricky)]);
    reg.WriteInteger("Number", -123456);
    ASSERT_TRUE(reg.CreateKey("Empty Key"));
    ASSERT_TRUE(reg.OpenKey("\\Key ] with [ brackets", true));
    reg.WriteString("v", "w");
  }
  const std::string text = ReadWholeFile(SettingsFile());
  EXPECT_NE(text.find("XELO"), std::string::npos);  // a readable text file
  EXPECT_EQ(text.find('\t'), std::string::npos);
  // The same file with CR LF line ends (edited on Windows) reads the same.
  std::string crlf;
  for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& file : {crlf, text}) {
    WriteWholeFile(SettingsFile(), file);
    ReloadSettingsForTesting();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
    for (std::size_t i = 0; i < std::size(tricky); ++i) {
      EXPECT_EQ(reg.ReadString(tricky[i]), tricky[(i + 1) % std::size(tricky)]) << i;
    }
    EXPECT_EQ(reg.ReadInteger("Number"), -123456);
    EXPECT_TRUE(reg.KeyExists("empty key"));
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Key ] with [ brackets"));
    EXPECT_EQ(reg.ReadString("v"), "w");
  }
  // Reading back and saving again gives the same file.
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Scratch", true));
  ASSERT_TRUE(reg.DeleteKey("\\Scratch"));
  EXPECT_EQ(ReadWholeFile(SettingsFile()), text);
}

TEST_F(SettingsStoreTest, ReadsACorruptOrUnreadableFileAsEmpty) {
  WriteSetting("TEdit", "a value long enough to be cut in the middle");
  const std::string valid = ReadWholeFile(SettingsFile());
  const std::string corrupt[] = {
      valid.substr(0, valid.size() - 10),             // cut inside the value
      "garbage\n[Software]\n",                         // no header
      std::string("\x00\xFF\xFE binary", 10),
      valid + "\"x\"=\"bad escape \\q\"\n",
      valid + "[Software\\\\Twice]\n",                 // an empty key name
      valid + "\"n\"=dword:123456789\n",               // more than 32 bits
      valid + "value without a key\n",
  };
  for (const auto& bytes : corrupt) {
    WriteWholeFile(SettingsFile(), bytes);
    EXPECT_EQ(ReadAfterReload("TEdit"), std::nullopt) << bytes;
  }
  // The next change replaces the corrupt file with a good one.
  WriteSetting("TMemo", "Lines");
  EXPECT_EQ(ReadAfterReload("TMemo"), "Lines");

  // A settings "file" that is a directory cannot be read or replaced.
  std::filesystem::remove(SettingsFile());
  std::filesystem::create_directory(SettingsFile());
  EXPECT_EQ(ReadAfterReload("TMemo"), std::nullopt);
  TRegistry reg;
  EXPECT_THROW(reg.OpenKey(kKey, true), ERegistryException);
  EXPECT_FALSE(reg.KeyExists(kKey));  // the failed change was undone
}

// (A crash while saving is the atomic file's, tested with the streams.)
TEST_F(SettingsStoreTest, AFailedSaveLeavesTheLastGoodState) {
  WriteSetting("TEdit", "old");
  const std::string before = ReadWholeFile(SettingsFile());

  SetAtomicWriteHookForTesting([](AtomicWriteStep step) {
    if (step == AtomicWriteStep::kPartWritten) throw EFCreateError("simulated: disk full");
  });
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.WriteString("TEdit", "new"); }), "simulated: disk full");
  EXPECT_EQ(reg.ReadString("TEdit"), "old");  // memory agrees with the file
  SetAtomicWriteHookForTesting(nullptr);
  EXPECT_EQ(ReadWholeFile(SettingsFile()), before);
  EXPECT_EQ(ReadAfterReload("TEdit"), "old");
}

#if defined(_WIN32)
TEST_F(SettingsStoreTest, FollowsAppDataWhenNotRedirected) {
  const char* saved = std::getenv("APPDATA");
  const std::optional<std::string> savedValue = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::_putenv_s("APPDATA", dir.Path().c_str());
  SetSettingsDirectoryForTesting(std::string());
  EXPECT_EQ(SettingsFileName(), dir.Path() + "/xelo/settings.txt");
  WriteSetting("TEdit", "Hint");
  EXPECT_NE(ReadWholeFile(dir.Path() + "/xelo/settings.txt").find("Hint"), std::string::npos);
  // Without APPDATA there is no settings directory to follow.
  ::_putenv_s("APPDATA", "");
  EXPECT_EQ(SettingsFileName(), "");
  ::_putenv_s("APPDATA", savedValue ? savedValue->c_str() : "");
  SetSettingsDirectoryForTesting(dir.Path());
}
#else
TEST_F(SettingsStoreTest, FollowsXdgConfigHomeWhenNotRedirected) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> savedValue = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  SetSettingsDirectoryForTesting(std::string());
  EXPECT_EQ(SettingsFileName(), dir.Path() + "/xelo/settings.txt");
  WriteSetting("TEdit", "Hint");
  EXPECT_NE(ReadWholeFile(dir.Path() + "/xelo/settings.txt").find("Hint"), std::string::npos);
  // A relative XDG_CONFIG_HOME is ignored in favour of ~/.config.
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  EXPECT_EQ(SettingsFileName(), home.empty() ? SettingsFileName() : home + "/.config/xelo/settings.txt");
  (void)(savedValue ? ::setenv("XDG_CONFIG_HOME", savedValue->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME"));
  SetSettingsDirectoryForTesting(dir.Path());
}
#endif
#endif  // !XELO_COM_NATIVE

#if XELO_COM_NATIVE
TEST_F(SettingsStoreTest, KeepsTestsInAPrivateKeyAndStoresTextsAsUtf16) {
  const std::string prefix = "HKEY_CURRENT_USER\\";
  const std::string location = SettingsFileName();
  ASSERT_EQ(location.rfind(prefix + "Software\\Xelo\\Testing\\", 0), 0u) << location;
  const std::wstring privateKey = com::ToUtf16(location.substr(prefix.size()));
  const std::string text = "\xC3\xA4\xE2\x82\xAC" + std::string("\0x", 2);  // a-umlaut, euro sign, NUL, x
  {
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists("\\Software\\Xelo\\Testing"));  // the user's keys are out of sight
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteString("Text", text);
    reg.WriteInteger("Number", -5);
  }
  HKEY raw = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, (privateKey + L"\\Software\\Tavri\\XELO").c_str(), 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, &raw),
            ERROR_SUCCESS);
  // The type and the bytes of a raw value.
  const auto rawValue = [raw](const wchar_t* name) {
    BYTE data[32] = {};
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    if (::RegQueryValueExW(raw, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return std::pair<DWORD, std::string>{};
    return std::pair<DWORD, std::string>{type, std::string(reinterpret_cast<const char*>(data), size)};
  };
  EXPECT_EQ(rawValue(L"Text"), (std::pair<DWORD, std::string>{REG_SZ, std::string("\xE4\0\xAC\x20\0\0x\0\0\0", 10)}));
  EXPECT_EQ(rawValue(L"Number"), (std::pair<DWORD, std::string>{REG_DWORD, std::string("\xFB\xFF\xFF\xFF", 4)}));
  // Values other programs write: an expandable text is a string (read as
  // stored), binary data neither a string nor an integer.
  const wchar_t expandable[] = L"%TEMP%\\x";
  ::RegSetValueExW(raw, L"Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expandable), sizeof expandable);
  const BYTE bytes[] = {1, 2, 3, 4};
  ::RegSetValueExW(raw, L"Blob", 0, REG_BINARY, bytes, sizeof bytes);
  ::RegCloseKey(raw);

  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadString("text"), text);
  EXPECT_EQ(reg.ReadString("Path"), "%TEMP%\\x");
  EXPECT_TRUE(reg.ValueExists("Blob"));
  EXPECT_EQ((std::vector<TRegDataType>{reg.GetDataType("Path"), reg.GetDataType("Blob")}),
            (std::vector<TRegDataType>{TRegDataType::rdString, TRegDataType::rdUnknown}));
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.ReadString("Blob"); }), "Invalid data type for 'Blob'");
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.ReadInteger("Blob"); }), "Invalid data type for 'Blob'");
  const std::string nulName("a\0b", 3);  // the registry takes no NUL in a name
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.WriteString(nulName, "1"); }),
            "Failed to set data for '" + nulName + "'");
  EXPECT_FALSE(reg.ValueExists("a"));

  // Back at the real HKEY_CURRENT_USER, the private key is gone.
  SetSettingsDirectoryForTesting(std::string());
  EXPECT_EQ(SettingsFileName(), "HKEY_CURRENT_USER");
  HKEY gone = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, privateKey.c_str(), 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(TRegistry().KeyExists("\\Software"));
  SetSettingsDirectoryForTesting(dir.Path());
  EXPECT_EQ(SettingsFileName(), location);
  EXPECT_FALSE(TRegistry().KeyExists(kKey));  // a fresh private key
}
#endif

#if XELO_COM_NATIVE
// Windows' HKEY_CLASSES_ROOT as it is, apart from what the class registry
// adds: readable, never written through TRegistry.
TEST(NativeClassesRootTest, ReadsTheSystemsClassKeysAndNeverWritesThem) {
  std::string first;
  ASSERT_TRUE(EnumKey(HKEY_CLASSES_ROOT, 0, first));
  EXPECT_FALSE(first.empty());
  TRegistry reg(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(reg.OpenKey("clsid", true));
  EXPECT_EQ(reg.CurrentPath(), "CLSID");
  EXPECT_TRUE(reg.HasSubKeys());
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.WriteString("Xelo", "x"); }), "Failed to set data for 'Xelo'");
  EXPECT_FALSE(reg.ValueExists("Xelo"));
  EXPECT_FALSE(reg.CreateKey("Xelo.Never.Created"));
  EXPECT_FALSE(reg.OpenKey("\\Xelo.Never.Created", true));
  EXPECT_FALSE(reg.KeyExists("\\Xelo.Never.Created"));
  EXPECT_FALSE(reg.DeleteKey("\\CLSID"));
  EXPECT_TRUE(reg.KeyExists("\\CLSID"));
}
#endif

TEST(RegistryRoots, OnlyThePredefinedRootsExist) {
  std::string name;
  EXPECT_FALSE(EnumKey(UnknownRoot(42), 0, name));
  TRegistry reg(HKEY_CLASSES_ROOT);
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.SetRootKey(UnknownRoot(7)); }), "Invalid registry root key");
  EXPECT_EQ(reg.GetRootKey(), HKEY_CLASSES_ROOT);
}

// ---- the class-root view ----------------------------------------------------------
// On Windows' own COM the classes root is the system's registry, where a
// class registered in this process does not appear (servers register
// themselves there when installed); NativeClassesRootTest covers it.
#if !XELO_COM_NATIVE

constexpr GUID kClsidA{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};
constexpr GUID kClsidB{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02}};
constexpr GUID kClsidC{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x03}};
constexpr GUID kCategory1{0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
constexpr GUID kCategory2{0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

com::ClassRegistration Registration(const GUID& clsid, const char* progId, const char* typeName, bool opc,
                                    std::vector<CATID> categories = {}) {
  com::ClassRegistration r;
  r.clsid = clsid;
  r.progId = progId;
  r.userTypeName = typeName;
  r.hasOpcKey = opc;
  r.categories = std::move(categories);
  return r;
}

class ClassesRootTest : public ::testing::Test {
 protected:
  com::ScopedClassRegistration zeta{Registration(kClsidA, "Zeta.Test.1", "Zeta server", true, {kCategory1, kCategory2})};
  com::ScopedClassRegistration alpha{Registration(kClsidB, "alpha.Test.1", "Alpha thing", false)};
  com::ScopedClassRegistration mid{Registration(kClsidC, "Mid.Test.1", "Mid server", true, {kCategory2})};

  static Names Only(const Names& names, const Names& wanted) {
    Names out;
    for (const auto& n : names) {
      if (std::find(wanted.begin(), wanted.end(), n) != wanted.end()) out.push_back(n);
    }
    return out;
  }
};

TEST_F(ClassesRootTest, EnumeratesProgIdsInRegistryOrderThenClsidAndLaysOutTheirKeys) {
  ASSERT_EQ((std::vector<HRESULT>{zeta.Result(), alpha.Result(), mid.Result()}),
            (std::vector<HRESULT>{S_OK, S_OK, S_OK}));
  Names keys;
  std::string name;
  for (int i = 0; EnumKey(HKEY_CLASSES_ROOT, i, name); ++i) keys.push_back(name);
  EXPECT_EQ(Only(keys, {"Zeta.Test.1", "alpha.Test.1", "Mid.Test.1"}), (Names{"alpha.Test.1", "Mid.Test.1", "Zeta.Test.1"}));
  Names expected;
  for (const auto& r : com::ClassRegistry::Instance().All()) expected.push_back(r.progId);
  expected.push_back("CLSID");
  EXPECT_EQ(keys, expected);
  EXPECT_FALSE(EnumKey(HKEY_CLASSES_ROOT, static_cast<int>(keys.size()), name) || EnumKey(HKEY_CLASSES_ROOT, -1, name));

  // The walk a server browser does: every top-level key with an "OPC" subkey.
  Names servers;
  for (const std::string& key : keys) {
    if (TRegistry r(HKEY_CLASSES_ROOT); r.OpenKeyReadOnly(key) && r.KeyExists("OPC")) servers.push_back(key);
  }
  EXPECT_EQ(Only(servers, {"Zeta.Test.1", "alpha.Test.1", "Mid.Test.1"}), (Names{"Mid.Test.1", "Zeta.Test.1"}));

  // The keys under a ProgID and a class id.
  const std::string clsid = com::GuidToString(kClsidA);
  TRegistry reg(HKEY_CLASSES_ROOT);
  // Each key: its default value and its subkeys.
  const auto keyAt = [&reg](const std::string& path) {
    TStringList names;
    if (!reg.OpenKeyReadOnly(path)) return Names{"<missing>"};
    reg.GetKeyNames(names);
    Names out{reg.ReadString("")};
    for (const std::string& n : LinesOf(names)) out.push_back(n);
    return out;
  };
  EXPECT_EQ(keyAt("zeta.test.1"), (Names{"Zeta server", "CLSID", "OPC"}));
  EXPECT_EQ(keyAt("CLSID"), (Names{clsid}));  // relative to the open key
  EXPECT_EQ(keyAt("\\CLSID\\" + clsid), (Names{"Zeta server", "Implemented Categories", "ProgID"}));
  EXPECT_EQ(keyAt("ProgID"), (Names{"Zeta.Test.1"}));
  EXPECT_EQ(keyAt("\\CLSID\\" + clsid + "\\Implemented Categories"),
            (Names{"", com::GuidToString(kCategory1), com::GuidToString(kCategory2)}));

  // Class ids are found in either case; classes without categories have none.
  std::string lower = com::GuidToString(kClsidB);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\CLSID\\" + lower));
  EXPECT_EQ(reg.ReadString(""), "Alpha thing");
  EXPECT_FALSE(reg.KeyExists("Implemented Categories"));
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\alpha.Test.1"));
  EXPECT_FALSE(reg.KeyExists("OPC"));
}

TEST_F(ClassesRootTest, IsReadOnlyAndFollowsTheClassRegistry) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(reg.OpenKey("Mid.Test.1", true));  // existing keys open
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.WriteString("", "changed"); }), "Failed to set data for ''");
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.WriteInteger("n", 1); }), "Failed to set data for 'n'");
  EXPECT_EQ(reg.ReadString(""), "Mid server");
  EXPECT_EQ((std::vector<bool>{reg.DeleteValue(""), reg.OpenKey("\\New.Key", true), reg.CreateKey("Sub"),
                               reg.CreateKey("CLSID"), reg.DeleteKey("\\Mid.Test.1"), reg.KeyExists("\\Mid.Test.1")}),
            (std::vector<bool>{false, false, false, true, false, true}));  // CLSID: already there

  {
    com::ScopedClassRegistration extra{
        Registration({0x99999999, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}, "Extra.Test.1", "Extra", true)};
    EXPECT_TRUE(reg.KeyExists("\\Extra.Test.1\\OPC"));
  }
  EXPECT_FALSE(reg.KeyExists("\\Extra.Test.1"));
}

#endif  // !XELO_COM_NATIVE

}  // namespace
