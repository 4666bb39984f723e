#include "xelo/framework/Streams.h"

#include "xelo/framework/AtomicFile.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/platform/FileFlags.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xelo {
namespace {

// The text of an errno value. generic_category: on Windows the system
// category means Win32 error codes, whose numbers mean other things.
std::string SystemText(int error) { return std::generic_category().message(error); }

// Seek arithmetic on untrusted offsets must not overflow.
std::int64_t SeekTarget(std::int64_t base, std::int64_t offset) {
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target)) throw EStreamError("Stream seek error");
  return target;
}

// At most 1 GiB per read or write call: Windows' C runtime counts bytes in
// an unsigned int, so a larger count would wrap, and Linux moves less than
// 2 GiB per call anyway. Callers loop over partial transfers.
unsigned ChunkOf(std::int64_t count) {
  constexpr std::int64_t kMaxChunk = std::int64_t{1} << 30;
  return static_cast<unsigned>(std::min(count, kMaxChunk));
}

}  // namespace

// ---- TStream ---------------------------------------------------------------

void TStream::SeekError(std::int64_t position) {
  throw EStreamError("Stream seek error (position " + std::to_string(position) + ")");
}

std::int64_t TStream::GetSize() {
  const std::int64_t position = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::SetSize(std::int64_t /*size*/) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count <= 0) return;
  // A stream may deliver less than asked before its end (a pipe, a device);
  // only a read of nothing means there is no more.
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    const std::int64_t n = Read(p, count);
    if (n <= 0) throw EReadError("Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count <= 0) return;
  const auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    const std::int64_t n = Write(p, count);
    if (n <= 0) throw EWriteError("Stream write error");
    p += n;
    count -= n;
  }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count < 0) return 0;
  constexpr std::int64_t kChunk = 64 * 1024;
  std::string buffer(static_cast<std::size_t>(std::min(count, kChunk)), '\0');
  std::int64_t remaining = count;
  while (remaining > 0) {
    const std::int64_t n = std::min(remaining, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    remaining -= n;
  }
  return count;
}

std::string TStream::ReadRemaining() {
  std::string out;
  char buffer[64 * 1024];
  for (;;) {
    const std::int64_t n = Read(buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

// ---- TMemoryStream -----------------------------------------------------------

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const auto size = static_cast<std::int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return 0;
  const std::int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t end = SeekTarget(position_, count);
  if (end > static_cast<std::int64_t>(data_.size())) data_.resize(static_cast<std::size_t>(end), '\0');
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

void TMemoryStream::WriteOwned(std::string&& bytes) {
  if (!data_.empty() || position_ != 0) {
    WriteBuffer(bytes);
    return;
  }
  data_ = std::move(bytes);
  position_ = static_cast<std::int64_t>(data_.size());
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = position_; break;
    case TSeekOrigin::soEnd: base = static_cast<std::int64_t>(data_.size()); break;
  }
  const std::int64_t target = SeekTarget(base, offset);
  if (target < 0) SeekError(target);
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Stream size cannot be negative (" + std::to_string(size) + ")");
  data_.resize(static_cast<std::size_t>(size), '\0');
  position_ = std::min(position_, size);
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const std::int64_t size = source.GetSize();
  std::string data(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)), '\0');
  source.ReadBuffer(data.data(), size);
  data_ = std::move(data);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& dest) const {
  dest.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) const { WriteFileAtomically(fileName, data_); }

// ---- TStringStream -----------------------------------------------------------

std::string TStringStream::ReadString(std::int64_t count) {
  const auto size = static_cast<std::int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return {};
  const std::int64_t n = std::min(count, size - position_);
  std::string out = data_.substr(static_cast<std::size_t>(position_), static_cast<std::size_t>(n));
  position_ += n;
  return out;
}

// ---- TFileStream -------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
  if ((mode & fmCreate) == fmCreate) {
    fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | platform::kPrivateFileFlags, 0666);
    if (fd_ < 0) throw EFCreateError("Cannot create file \"" + fileName + "\". " + SystemText(errno));
    return;
  }
  int flags = O_RDONLY;
  switch (mode & 0x3) {
    case fmOpenWrite: flags = O_WRONLY; break;
    case fmOpenReadWrite: flags = O_RDWR; break;
    default: flags = O_RDONLY; break;
  }
  fd_ = ::open(fileName.c_str(), flags | platform::kPrivateFileFlags);
  struct stat st {};
  if (fd_ < 0) {
    int error = errno;
    // Windows refuses to open a directory as "permission denied", which
    // sends the user looking at access rights; say what it is instead.
    if (error == EACCES && ::stat(fileName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) error = EISDIR;
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + SystemText(error));
  }
  // A directory opens read-only on Linux but cannot be read as a stream;
  // refuse it here, where the message can say so.
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + SystemText(EISDIR));
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const auto n = ::read(fd_, buffer, ChunkOf(count));
    if (n >= 0) return n;
    if (errno != EINTR) throw EReadError("Cannot read file \"" + fileName_ + "\". " + SystemText(errno));
  }
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const auto n = ::write(fd_, buffer, ChunkOf(count));
    if (n >= 0) return n;
    if (errno != EINTR) throw EWriteError("Cannot write file \"" + fileName_ + "\". " + SystemText(errno));
  }
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  // The target is computed here so that a seek before the start is reported
  // with the position it aimed at, whatever the origin.
  std::int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = ::lseek(fd_, 0, SEEK_CUR); break;
    case TSeekOrigin::soEnd: base = GetSize(); break;
  }
  if (base < 0) throw EStreamError("Stream seek error. " + SystemText(errno));
  const std::int64_t target = SeekTarget(base, offset);
  if (target < 0) SeekError(target);
  const off_t result = ::lseek(fd_, static_cast<off_t>(target), SEEK_SET);
  if (result < 0) throw EStreamError("Stream seek error. " + SystemText(errno));
  return result;
}

std::int64_t TFileStream::GetSize() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EStreamError("Stream size error. " + SystemText(errno));
  return st.st_size;
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Stream size cannot be negative (" + std::to_string(size) + ")");
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    throw EStreamError("Cannot change the size of file \"" + fileName_ + "\". " + SystemText(errno));
  }
  if (GetPosition() > size) Seek(size, soBeginning);
}

}  // namespace xelo
