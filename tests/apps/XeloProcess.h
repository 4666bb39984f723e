// Runs the built `xelo` program as a user would: its own process, its own
// stdout and stderr (captured in files, so that neither pipe can fill up
// and block it), its exit code.
#pragma once

#include "framework/ScratchDirectory.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace xelo::testing {

#if defined(_WIN32)
// The tool is started with fork/exec and stopped with signals, which
// Windows has not; until it is started with CreateProcess there, every
// test of this program is skipped.
class SkipWithoutPosixProcesses : public ::testing::Environment {
 public:
  void SetUp() override { GTEST_SKIP() << "the xelo tool is run with fork/exec (POSIX only so far)"; }
};
inline ::testing::Environment* const kSkipWithoutPosixProcesses =
    ::testing::AddGlobalTestEnvironment(new SkipWithoutPosixProcesses);
// What the skipped tests name but Windows does not define, so that they
// still compile there.
#define SIGHUP 1
#define SIGPIPE 13
#define WIFEXITED(status) ((void)(status), true)
#define WEXITSTATUS(status) (status)
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
  // is added.
  explicit XeloProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {})
      : outPath_(scratch_.File("stdout")), errPath_(scratch_.File("stderr")) {
    // Everything the child needs is made before fork(): between fork and
    // exec only system calls are safe.
#if !defined(_WIN32)
    std::vector<std::string> argumentStrings{XELO_CLI};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentStrings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (text.rfind("XELO_SERVER=", 0) == 0 || text.rfind("XELO_COMPUTER=", 0) == 0) continue;
      environmentStrings.push_back(text);
    }
    environmentStrings.insert(environmentStrings.end(), environment.begin(), environment.end());
    std::vector<char*> argv;
    for (std::string& text : argumentStrings) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& text : environmentStrings) envp.push_back(text.data());
    envp.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = ::open("/dev/null", O_RDONLY);
      if (out < 0 || err < 0 || in < 0) ::_exit(126);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
#else
    (void)arguments;
    (void)environment;
#endif
  }
  ~XeloProcess() {
#if !defined(_WIN32)
    if (pid_ > 0 && !finished_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
#endif
  }
  XeloProcess(const XeloProcess&) = delete;
  XeloProcess& operator=(const XeloProcess&) = delete;

  bool Started() const { return pid_ > 0; }
#if defined(_WIN32)
  void Signal(int) const {}
#else
  void Signal(int signal) const { ::kill(pid_, signal); }
#endif
  std::string Out() const { return ReadWholeFile(outPath_); }

  // Waits (without a time limit of its own: the test runner's timeout
  // stops a program that hangs) and collects the output.
  XeloResult Wait() {
    finished_ = true;
    XeloResult result;
#if !defined(_WIN32)
    int status = 0;
    ::waitpid(pid_, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
      const std::string out = Out();
      if (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= lines) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  ScratchDirectory scratch_;
  std::string outPath_;
  std::string errPath_;
  int pid_ = -1;
  bool finished_ = false;
};

inline XeloResult RunXelo(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
  XeloProcess process(arguments, environment);
  return process.Wait();
}

}  // namespace xelo::testing
