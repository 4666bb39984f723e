// What both stores behind TRegistry share: the path rules, the error texts
// and the filling of name lists. Not installed; used by Registry.cpp,
// RegistryPortable.cpp (settings file and class view) and RegistryWin32.cpp
// (Windows' registry).
#pragma once

#include "xelo/framework/Registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace xelo::registry {

using KeyPath = std::vector<std::string>;

// A key name: 1 to 255 bytes, no backslash, no control characters.
bool IsValidKeyName(std::string_view name);
bool AreValidKeyNames(const KeyPath& path);
// The names of a backslash-separated path; empty components (a leading,
// trailing or doubled backslash) are skipped.
KeyPath SplitPath(std::string_view path);
std::string JoinPath(const KeyPath& path);

bool IsKnownRoot(HKEY key);

[[noreturn]] void SetDataFailed(std::string_view name);
[[noreturn]] void InvalidDataType(std::string_view name);

// Replaces the content of `strings` with `names` as one change.
void AssignNames(TStrings& strings, const std::vector<std::string>& names);

}  // namespace xelo::registry
