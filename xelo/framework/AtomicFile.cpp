#include "xelo/framework/AtomicFile.h"

#include "xelo/framework/Exceptions.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  throw EFCreateError("Cannot create file \"" + path + "\". " + std::system_category().message(error));
}

// Splits "dir/name" into "dir" and "name"; a bare name lives in ".".
std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Returns 0 or the errno of the failure.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Owns the temporary file until it has been renamed: on every way out before
// that, the descriptor is closed and the file removed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    // The name is hidden and unique per process and call, so concurrent
    // writers never share a temporary file; O_EXCL guards against leftovers
    // of a crashed run that happened to have our process id.
    const std::string prefix = DirectoryOf(target) + "/." + NameOf(target) + ".tmp-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = prefix + std::to_string(counter.fetch_add(1));
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) CreateFailed(target, errno);
  }

  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }

  // Returns 0 or the errno of a failing close; a failing close can report a
  // delayed write error, so it must not be ignored.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

  // After a successful rename the file is the target: keep it.
  void Release() { path_.clear(); }

 private:
  std::string path_;
  int fd_ = -1;
};

// Makes the rename itself durable. A file system that cannot sync
// directories still has the data flushed, so failures here are ignored.
void SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) CreateFailed(path, ENOENT);
  TemporaryFile temp(path);
  CallHook(AtomicWriteStep::kTempCreated);

  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::fchmod(temp.Descriptor(), existing.st_mode & 07777);
  }

  const std::size_t half = bytes.size() / 2;
  if (const int error = WriteAll(temp.Descriptor(), bytes.substr(0, half))) CreateFailed(path, error);
  CallHook(AtomicWriteStep::kPartWritten);
  if (const int error = WriteAll(temp.Descriptor(), bytes.substr(half))) CreateFailed(path, error);

  if (::fsync(temp.Descriptor()) != 0) CreateFailed(path, errno);
  if (const int error = temp.Close()) CreateFailed(path, error);
  CallHook(AtomicWriteStep::kBeforeRename);

  if (::rename(temp.Path().c_str(), path.c_str()) != 0) CreateFailed(path, errno);
  temp.Release();
  SyncDirectory(DirectoryOf(path));
}

void SetAtomicWriteHookForTesting(std::function<void(AtomicWriteStep)> hook) { Hook() = std::move(hook); }

}  // namespace xelo
