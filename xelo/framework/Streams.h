// Byte streams: the abstract TStream, an in-memory stream, a stream over a
// std::string, and a file stream.
//
// Contract: a stream is used by one thread at a time. Positions and sizes
// are byte counts (64-bit). Reading past the end reads less (Read) or raises
// (ReadBuffer); writing past the end grows the stream, filling any gap with
// zero bytes. Errors are EStreamError and its subclasses (Exceptions.h):
//   EReadError  "Stream read error"   ReadBuffer got fewer bytes than asked
//   EWriteError "Stream write error"  WriteBuffer could not write them all
//   EStreamError "Stream seek error (position N)"  a seek before the start
//   EFOpenError / EFCreateError  `Cannot open file "NAME". <system text>` /
//               `Cannot create file "NAME". <system text>`
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace xelo {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };
inline constexpr TSeekOrigin soBeginning = TSeekOrigin::soBeginning;
inline constexpr TSeekOrigin soCurrent = TSeekOrigin::soCurrent;
inline constexpr TSeekOrigin soEnd = TSeekOrigin::soEnd;

class TStream {
 public:
  TStream() = default;
  virtual ~TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to `count` bytes at the position and advances it; returns the
  // number read (0 at or after the end, or for count <= 0).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes `count` bytes at the position and advances it; returns the number
  // written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position and returns the new one. The position may lie after
  // the end; one before the start raises EStreamError.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  std::int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }
  // The default finds the size by seeking to the end and back.
  virtual std::int64_t GetSize();
  // Truncates or extends (with zero bytes). A position after the new end is
  // moved to the end. The default raises EStreamError: not every stream can.
  virtual void SetSize(std::int64_t size);

  // Exactly `count` bytes or EReadError / EWriteError.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  void WriteBuffer(std::string_view bytes) { WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size())); }

  // Copies `count` bytes from the source's position; with count 0 the whole
  // source from its start. Raises EReadError when the source has fewer bytes.
  // Returns the number of bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // The bytes from the position to the end, leaving the position at the end.
  std::string ReadRemaining();

 protected:
  // Raises EStreamError for a seek target before the start.
  [[noreturn]] static void SeekError(std::int64_t position);
};

// A stream in memory. Memory() stays valid until the size changes.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  // Writes `bytes` at the position as WriteBuffer does; an empty stream
  // takes the string's memory over instead of copying what may be a text
  // of many megabytes.
  void WriteOwned(std::string&& bytes);

  void* Memory() { return data_.data(); }
  const void* Memory() const { return data_.data(); }
  // Empties the stream and sets the position to 0.
  void Clear();

  // Replaces the contents with the whole of `source` (from its start); the
  // position is then 0.
  void LoadFromStream(TStream& source);
  // Writes the whole contents (regardless of the position) at dest's position.
  void SaveToStream(TStream& dest) const;
  // Raises EFOpenError when the file cannot be read.
  void LoadFromFile(const std::string& fileName);
  // Replaces the file atomically (WriteFileAtomically): after a failure or a
  // crash the old file is still there, whole. Raises EFCreateError.
  void SaveToFile(const std::string& fileName) const;

 protected:
  std::string data_;
  std::int64_t position_ = 0;
};

// A memory stream whose contents are a text.
class TStringStream : public TMemoryStream {
 public:
  TStringStream() = default;
  explicit TStringStream(std::string_view text) { data_.assign(text); }
  const std::string& DataString() const { return data_; }
  // Reads up to `count` bytes as text.
  std::string ReadString(std::int64_t count);
  void WriteString(std::string_view text) { WriteBuffer(text); }
};

// Open modes of TFileStream.
inline constexpr unsigned fmOpenRead = 0x0000;
inline constexpr unsigned fmOpenWrite = 0x0001;
inline constexpr unsigned fmOpenReadWrite = 0x0002;
inline constexpr unsigned fmCreate = 0xFF00;  // create or truncate, then read/write

// A stream over an open file; the file is closed when the stream is
// destroyed. The constructor raises EFCreateError (fmCreate) or EFOpenError.
// A failing system call raises, with the system's text appended:
// Read EReadError `Cannot read file "NAME". …`, Write EWriteError
// `Cannot write file "NAME". …`, Seek/GetSize/SetSize EStreamError.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t size) override;

  const std::string& FileName() const { return fileName_; }
  int Handle() const { return fd_; }

 private:
  std::string fileName_;
  int fd_ = -1;
};

}  // namespace xelo
