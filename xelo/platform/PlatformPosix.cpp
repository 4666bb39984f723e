#include "xelo/platform/Platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xelo::platform {
namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  passwd entry{};
  passwd* result = nullptr;
  std::string buffer(16384, '\0');
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return {};
}

}  // namespace

std::string HostName() {
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return {};
  return host;
}

bool LocalTime(std::time_t seconds, std::tm& local) { return ::localtime_r(&seconds, &local) != nullptr; }

long UtcOffsetSeconds(std::time_t seconds) {
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

// The XDG rule: XDG_CONFIG_HOME when it is set to an absolute path, else
// ~/.config.
std::string UserSettingsDirectory(const std::string& name) {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return std::string(config) + "/" + name;
  }
  const std::string home = HomeDirectory();
  return home.empty() ? std::string() : home + "/.config/" + name;
}

void MakeDirectory(const std::string& path) { ::mkdir(path.c_str(), 0700); }

int SyncFile(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

int MoveFileOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace xelo::platform
