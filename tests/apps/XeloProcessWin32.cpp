// Starting and stopping the xelo program on Windows (see XeloProcess.h).
// A file of its own: <windows.h> and the library's COM headers cannot meet
// in one translation unit.
#if defined(_WIN32)

#include "XeloProcess.h"

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include <windows.h>

namespace xelo::testing::win32 {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// One argument as the C runtime's command-line parser reads it back:
// quoted when it holds blanks or quotes or is empty, backslashes doubled
// only where they precede a quote.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

bool StartsWithName(const wchar_t* entry, const wchar_t* name) {
  // Windows compares the names of environment variables without case.
  for (; *name != L'\0'; ++entry, ++name) {
    if (std::towupper(*entry) != std::towupper(*name)) return false;
  }
  return true;
}

// This process's environment without XELO_SERVER and XELO_COMPUTER, plus
// `added`, as the block CreateProcessW takes.
std::wstring EnvironmentBlock(const std::vector<std::string>& added) {
  std::wstring block;
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      if (StartsWithName(entry, L"XELO_SERVER=") || StartsWithName(entry, L"XELO_COMPUTER=")) continue;
      block.append(entry);
      block += L'\0';
    }
    ::FreeEnvironmentStringsW(strings);
  }
  for (const std::string& entry : added) {
    block += Wide(entry);
    block += L'\0';
  }
  block += L'\0';
  return block;
}

HANDLE OpenInherited(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  // Shared for reading and writing: the test reads the output while the
  // program still writes it.
  return ::CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool Start(Child& child, const std::vector<std::string>& commandLine, const std::vector<std::string>& environment,
           const std::string& inPath, const std::string& outPath, const std::string& errPath) {
  std::wstring line;
  for (const std::string& argument : commandLine) {
    if (!line.empty()) line += L' ';
    AppendQuoted(line, Wide(argument));
  }
  std::wstring block = EnvironmentBlock(environment);

  HANDLE out = OpenInherited(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInherited(errPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE in = OpenInherited(inPath, GENERIC_READ, OPEN_EXISTING);
  bool started = false;
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE && in != INVALID_HANDLE_VALUE) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info{};
    // A process group of its own, so that Ctrl-Break reaches the program
    // and not the test as well.
    started = ::CreateProcessW(Wide(commandLine.front()).c_str(), line.data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, block.data(), nullptr, &startup,
                               &info) != 0;
    if (started) {
      ::CloseHandle(info.hThread);
      child.process = info.hProcess;
      child.id = info.dwProcessId;
    }
  }
  // The program holds its own copies now.
  for (HANDLE handle : {out, err, in}) {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
  return started;
}

bool HasConsole() { return ::GetConsoleWindow() != nullptr; }

bool SendCtrlBreak(const Child& child) { return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.id) != 0; }

bool Wait(Child& child, unsigned long milliseconds, int& exitCode) {
  if (::WaitForSingleObject(child.process, milliseconds) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  ::GetExitCodeProcess(child.process, &code);
  exitCode = static_cast<int>(code);
  Close(child);
  return true;
}

void Kill(Child& child) {
  if (child.process == nullptr) return;
  ::TerminateProcess(child.process, 137);
  ::WaitForSingleObject(child.process, INFINITE);
  Close(child);
}

void Close(Child& child) {
  if (child.process != nullptr) ::CloseHandle(child.process);
  child.process = nullptr;
}

}  // namespace xelo::testing::win32

#endif
