// WriteFileAtomically on Windows (AtomicFile.cpp is the POSIX one): a
// temporary file next to the target, flushed, then moved over the target
// in one step. Windows has no permission bits to carry over and no
// directory flush; symbolic links and special files, which the POSIX
// version takes care of, are not looked at here yet.
#include "xelo/framework/AtomicFile.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/platform/FileFlags.h"
#include "xelo/platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

namespace xelo {
namespace {

std::function<void(AtomicWriteStep)>& Hook() {
  static std::function<void(AtomicWriteStep)> hook;
  return hook;
}

void CallHook(AtomicWriteStep step) {
  if (Hook()) Hook()(step);
}

[[noreturn]] void CreateFailed(const std::string& path, int error) {
  throw EFCreateError("Cannot create file \"" + path + "\". " + std::generic_category().message(error));
}

// Both separators name directories on Windows.
std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const int written = ::_write(fd, bytes.data(), static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30)));
    if (written < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Owns the temporary file until it has been moved over the target.
class TemporaryFile {
 public:
  TemporaryFile(const std::string& target, const std::string& shown) {
    static std::atomic<unsigned> counter{0};
    const std::string prefix = DirectoryOf(target) + "/." + NameOf(target) + ".tmp-" + std::to_string(::_getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = prefix + std::to_string(counter.fetch_add(1));
      fd_ = ::_open(path_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | platform::kPrivateFileFlags, _S_IREAD | _S_IWRITE);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) CreateFailed(shown, errno);
  }

  ~TemporaryFile() {
    if (fd_ >= 0) ::_close(fd_);
    if (!path_.empty()) ::_unlink(path_.c_str());
  }

  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }

  int Close() {
    const int result = ::_close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

  void Release() { path_.clear(); }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace

void WriteFileAtomically(const std::string& requested, std::string_view bytes) {
  if (requested.empty()) CreateFailed(requested, ENOENT);
  TemporaryFile temp(requested, requested);
  CallHook(AtomicWriteStep::kTempCreated);

  const std::size_t half = bytes.size() / 2;
  if (const int error = WriteAll(temp.Descriptor(), bytes.substr(0, half))) CreateFailed(requested, error);
  CallHook(AtomicWriteStep::kPartWritten);
  if (const int error = WriteAll(temp.Descriptor(), bytes.substr(half))) CreateFailed(requested, error);

  if (const int error = platform::SyncFile(temp.Descriptor())) CreateFailed(requested, error);
  if (const int error = temp.Close()) CreateFailed(requested, error);
  CallHook(AtomicWriteStep::kBeforeRename);

  if (const int error = platform::MoveFileOver(temp.Path(), requested)) CreateFailed(requested, error);
  temp.Release();
}

void SetAtomicWriteHookForTesting(std::function<void(AtomicWriteStep)> hook) { Hook() = std::move(hook); }

}  // namespace xelo
