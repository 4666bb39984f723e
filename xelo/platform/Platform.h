// The few operating-system services the portable libraries need, behind
// plain C++ types. PlatformPosix.cpp or PlatformWin32.cpp implements them
// (chosen by the build). The Win32 side must live in a translation unit of
// its own: <windows.h> declares HRESULT, GUID and friends, which our COM
// headers declare themselves, so the two cannot meet in one file.
//
// Not installed: only the libraries' own sources include it.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace xelo::platform {

// The name of this computer as the system reports it (possibly fully
// qualified); empty when it cannot be read.
std::string HostName();

// The local date and time of `seconds` (since 1970 UTC, negative before)
// under the current time zone's rules for that date: TZ when it is set,
// else the system's zone. On Windows TZ counts in its POSIX form with
// Mm.w.d rules (what Windows' own zones can express); any other TZ falls
// back to the system's zone. False when the system cannot convert it.
bool LocalTime(std::time_t seconds, std::tm& local);

// How far local time is ahead of UTC at `seconds`, in seconds (summer time
// included): +3600 in Central Europe in winter.
long UtcOffsetSeconds(std::time_t seconds);

// The program's arguments as UTF-8, the program's name first. POSIX
// passes main's argv as it is; on Windows main's argv is in the ANSI code
// page, which loses every character outside it, so the arguments are read
// from the UTF-16 command line instead.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The directory for this user's settings of program `name`: on POSIX
// $XDG_CONFIG_HOME/name or ~/.config/name, on Windows %APPDATA%\name.
// Empty when no such directory is known.
std::string UserSettingsDirectory(const std::string& name);

// Creates one directory, readable by this user only where the system has
// such permissions; an existing one is left as it is.
void MakeDirectory(const std::string& path);

// Flushes a file's written data to the disk; 0 or the error (errno) code.
int SyncFile(int fd);

// Replaces `to` by `from` in one step (rename), also when `to` exists;
// 0 or the error (errno) code.
int MoveFileOver(const std::string& from, const std::string& to);

#if defined(_WIN32)
// Calls `handler` when the console asks the program to stop: SIGINT for
// Ctrl-C, SIGBREAK for Ctrl-Break, SIGTERM when the window closes or the
// session ends. It runs on a thread the system starts for it, like the
// waiting thread of the POSIX signals. Null removes it.
void SetConsoleStopHandler(void (*handler)(int signal));
#endif

}  // namespace xelo::platform
