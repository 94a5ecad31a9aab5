#pragma once
// Byte streams for the library's own persistence: an abstract stream with exact-size reads and
// writes, a growable memory stream and a file stream. Values are stored little-endian.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <type_traits>

#include "exceptions.h"

VANT_DECLARE_EXCEPTION(EStreamError, vant::Exception);
// A stream that ended before a record did ("Stream read error").
VANT_DECLARE_EXCEPTION(EReadError, EStreamError);
VANT_DECLARE_EXCEPTION(EWriteError, EStreamError);
VANT_DECLARE_EXCEPTION(EFOpenError, EStreamError);
// A class name that the object registry does not know.
VANT_DECLARE_EXCEPTION(EClassNotFound, vant::Exception);
VANT_DECLARE_EXCEPTION(EOutOfMemory, vant::Exception);

enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  // Answer the number of bytes moved (fewer at the end of the data).
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, int origin) = 0;

  int64_t GetPosition() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soFromBeginning); }
  int64_t GetSize();
  int64_t Remaining() { return GetSize() - GetPosition(); }

  // All or nothing: a short read raises EReadError, a short write EWriteError.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);

  template <class T>
  T ReadValue() {
    static_assert(std::is_trivially_copyable_v<T>);
    T v{};
    ReadBuffer(&v, sizeof v);
    return v;
  }
  template <class T>
  void WriteValue(T v) {
    static_assert(std::is_trivially_copyable_v<T>);
    WriteBuffer(&v, sizeof v);
  }
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  const std::string& Data() const { return data_; }
  void Clear() {
    data_.clear();
    pos_ = 0;
  }

 private:
  std::string data_;
  int64_t pos_ = 0;
};

class TFileStream : public TStream {
 public:
  enum TMode { fmCreate, fmOpenRead };
  // Raises EFOpenError when the file cannot be opened.
  TFileStream(const std::filesystem::path& path, TMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;

 private:
  std::FILE* file_ = nullptr;
};
