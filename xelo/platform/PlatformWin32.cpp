// Only <windows.h> and the C runtime here: our COM headers must not meet
// the system's (see Platform.h).
#include "xelo/platform/Platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <direct.h>
#include <io.h>
#include <windows.h>

namespace xelo::platform {

std::string HostName() {
  char host[256] = {};
  DWORD size = sizeof host;
  if (!::GetComputerNameExA(ComputerNameDnsHostname, host, &size)) return {};
  return std::string(host, size);
}

bool LocalTime(std::time_t seconds, std::tm& local) { return ::localtime_s(&local, &seconds) == 0; }

long UtcOffsetSeconds(std::time_t seconds) {
  std::tm local{};
  if (::localtime_s(&local, &seconds) != 0) return 0;
  // The local fields read as if they were UTC, minus the moment itself.
  const std::time_t asUtc = ::_mkgmtime(&local);
  return asUtc == -1 ? 0 : static_cast<long>(asUtc - seconds);
}

std::string UserSettingsDirectory(const std::string& name) {
  if (const char* appData = std::getenv("APPDATA"); appData != nullptr && appData[0] != '\0') {
    return std::string(appData) + "/" + name;
  }
  return {};
}

void MakeDirectory(const std::string& path) { ::_mkdir(path.c_str()); }

int SyncFile(int fd) { return ::_commit(fd) == 0 ? 0 : errno; }

int MoveFileOver(const std::string& from, const std::string& to) {
  // The C runtime's rename refuses an existing target; MoveFileEx replaces
  // it, and write-through returns only once the move is on the disk.
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  switch (::GetLastError()) {
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    default: return EIO;
  }
}

namespace {

void (*consoleStopHandler)(int) = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  void (*handler)(int) = consoleStopHandler;
  if (handler == nullptr) return FALSE;
  switch (event) {
    case CTRL_C_EVENT: handler(SIGINT); break;
    case CTRL_BREAK_EVENT: handler(SIGBREAK); break;
    default: handler(SIGTERM); break;
  }
  return TRUE;
}

}  // namespace

void SetConsoleStopHandler(void (*handler)(int signal)) {
  if (handler != nullptr) {
    consoleStopHandler = handler;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  } else {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    consoleStopHandler = nullptr;
  }
}

}  // namespace xelo::platform
