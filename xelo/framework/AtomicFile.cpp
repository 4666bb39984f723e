#include "xelo/framework/AtomicFile.h"

#include "xelo/framework/Exceptions.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
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
  // `shown` is the name errors report: the one the caller asked for.
  TemporaryFile(const std::string& target, const std::string& shown) {
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
    if (fd_ < 0) CreateFailed(shown, errno);
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

// The file a write to `path` is meant for when nothing exists there yet:
// a dangling symbolic link names the file to create, relative to the
// link's own directory.
std::string FollowDanglingLinks(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
    if (length < 0) CreateFailed(path, errno);
    target.resize(static_cast<std::size_t>(length));
    current = target.front() == '/' ? target : DirectoryOf(current) + "/" + target;
  }
  CreateFailed(path, ELOOP);
}

// A FIFO, a device or a terminal is written as it is: replacing it with a
// regular file would break whatever reads from it.
void WriteInPlace(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) CreateFailed(path, errno);
  const int error = WriteAll(fd, bytes);
  const int closed = ::close(fd);
  if (error != 0) CreateFailed(path, error);
  if (closed != 0) CreateFailed(path, errno);
}

}  // namespace

void WriteFileAtomically(const std::string& requested, std::string_view bytes) {
  if (requested.empty()) CreateFailed(requested, ENOENT);
  // A symbolic link stays a link: the file it names is replaced, in that
  // file's own directory, so that the rename stays on one file system.
  std::string path = requested;
  struct stat target {};
  const bool exists = ::stat(requested.c_str(), &target) == 0;
  if (exists) {
    if (!S_ISREG(target.st_mode)) return WriteInPlace(requested, bytes);
    if (char* resolved = ::realpath(requested.c_str(), nullptr)) {
      path = resolved;
      std::free(resolved);
    }
  } else {
    path = FollowDanglingLinks(requested);
  }
  TemporaryFile temp(path, requested);
  CallHook(AtomicWriteStep::kTempCreated);
  if (exists) ::fchmod(temp.Descriptor(), target.st_mode & 07777);

  const std::size_t half = bytes.size() / 2;
  if (const int error = WriteAll(temp.Descriptor(), bytes.substr(0, half))) CreateFailed(requested, error);
  CallHook(AtomicWriteStep::kPartWritten);
  if (const int error = WriteAll(temp.Descriptor(), bytes.substr(half))) CreateFailed(requested, error);

  if (::fsync(temp.Descriptor()) != 0) CreateFailed(requested, errno);
  if (const int error = temp.Close()) CreateFailed(requested, error);
  CallHook(AtomicWriteStep::kBeforeRename);

  if (::rename(temp.Path().c_str(), path.c_str()) != 0) CreateFailed(requested, errno);
  temp.Release();
  SyncDirectory(DirectoryOf(path));
}

void SetAtomicWriteHookForTesting(std::function<void(AtomicWriteStep)> hook) { Hook() = std::move(hook); }

}  // namespace xelo
