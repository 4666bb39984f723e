// Runs the built `xelo` program as a user would: its own process, its own
// stdout and stderr (captured in files, so that neither pipe can fill up
// and block it), its exit code.
#pragma once

#include "support/ScratchDirectory.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace xelo::testing {

#if defined(_WIN32)
// The Windows side, in XeloProcessWin32.cpp: CreateProcessW, the console's
// Ctrl-Break in place of signals.
namespace win32 {
struct Child {
  void* process = nullptr;  // the process handle
  unsigned long id = 0;
};
// Starts commandLine[0] with the arguments that follow, this process's
// environment without XELO_SERVER/XELO_COMPUTER plus `environment`, stdin
// from the file `inPath` (NUL for none) and stdout/stderr into the two
// files.
bool Start(Child& child, const std::vector<std::string>& commandLine, const std::vector<std::string>& environment,
           const std::string& inPath, const std::string& outPath, const std::string& errPath);
// Whether this process has a console that Ctrl-Break can be sent through
// (under Wine without a terminal it has none).
bool HasConsole();
bool SendCtrlBreak(const Child& child);
// False while the program still runs after `milliseconds`.
bool Wait(Child& child, unsigned long milliseconds, int& exitCode);
void Kill(Child& child);
void Close(Child& child);
}  // namespace win32
#endif

struct XeloResult {
  int exitCode = -1;  // -1: ended by a signal
  std::string out;
  std::string err;
};

class XeloProcess {
 public:
  // Starts the program with `arguments`. XELO_SERVER and XELO_COMPUTER of
  // the test's own environment are removed; `environment` ("NAME=value")
  // is added. Standard input is `input`, or empty without one.
  explicit XeloProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                       const std::string& input = {})
      : outPath_(scratch_.File("stdout")), errPath_(scratch_.File("stderr")) {
    const std::string inPath = scratch_.File("stdin");
    WriteWholeFile(inPath, input);
    std::vector<std::string> commandLine{XELO_CLI};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
#if defined(_WIN32)
    started_ = win32::Start(child_, commandLine, environment, inPath, outPath_, errPath_);
#else
    std::vector<std::string> variables(environment);
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (!text.starts_with("XELO_SERVER=") && !text.starts_with("XELO_COMPUTER=")) variables.push_back(text);
    }
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (std::string& text : commandLine) argv.push_back(text.data());
    for (std::string& text : variables) envp.push_back(text.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    ::posix_spawn_file_actions_init(&files);
    ::posix_spawn_file_actions_addopen(&files, 0, inPath.c_str(), O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&files, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::posix_spawn_file_actions_addopen(&files, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    started_ = ::posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), envp.data()) == 0;
    ::posix_spawn_file_actions_destroy(&files);
#endif
  }
  ~XeloProcess() {
    if (!started_ || finished_) return;
#if defined(_WIN32)
    win32::Kill(child_);
#else
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
#endif
  }
  XeloProcess(const XeloProcess&) = delete;
  XeloProcess& operator=(const XeloProcess&) = delete;

  bool Started() const { return started_; }
  // Asks the program to stop as a user would: a signal on POSIX; on
  // Windows the console's Ctrl-Break (SIGBREAK), the one stop event that
  // can be sent to a single program.
  void Signal(int signal) const {
#if defined(_WIN32)
    ASSERT_EQ(signal, SIGBREAK) << "Windows sends only Ctrl-Break to a single program";
    EXPECT_TRUE(win32::SendCtrlBreak(child_));
#else
    ::kill(pid_, signal);
#endif
  }
  // Waits and collects the output. On POSIX without a time limit of its
  // own: the test runner's timeout stops a program that hangs.
  XeloResult Wait() {
    finished_ = true;
    XeloResult result;
#if defined(_WIN32)
    // ctest's timeout would end the test program but not a tool it
    // started (Windows has no process groups to kill), so the wait is
    // bounded here: a hanging tool fails the test and is ended.
    if (started_ && !win32::Wait(child_, 180'000, result.exitCode)) {
      ADD_FAILURE() << "the xelo tool still ran after three minutes";
      win32::Kill(child_);
    }
#else
    int status = 0;
    if (started_ && ::waitpid(pid_, &status, 0) == pid_) {
      result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
#endif
    result.out = ReadWholeFile(outPath_);
    result.err = ReadWholeFile(errPath_);
    // In a sanitizer build the program reports its own memory errors and
    // leaks on stderr; any such report fails the test, whatever the exit
    // code (a runtime failure exits with 1 just like a sanitizer would).
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error:"), std::string::npos) << result.err;
    return result;
  }

  // Polls stdout until it holds `lines` complete lines; gives up after a
  // minute so that a broken program cannot hang the suite. Not a timing
  // check: a healthy program gets there in well under a second.
  bool WaitForLines(std::size_t lines) const {
    for (int i = 0; i < 3000; ++i) {
      const std::string out = ReadWholeFile(outPath_);
      if (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= lines) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  ScratchDirectory scratch_;
  std::string outPath_;
  std::string errPath_;
#if defined(_WIN32)
  win32::Child child_;
#else
  pid_t pid_ = -1;
#endif
  bool started_ = false;
  bool finished_ = false;
};

inline XeloResult RunXelo(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                          const std::string& input = {}) {
  return XeloProcess(arguments, environment, input).Wait();
}

}  // namespace xelo::testing
