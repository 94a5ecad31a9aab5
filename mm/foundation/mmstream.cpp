#include "mmstream.h"

#include <algorithm>
#include <cstring>

int64_t TStream::GetSize() {
  const int64_t pos = Seek(0, soFromCurrent);
  const int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || pos_ < 0) return 0;
  const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(data_.size()) - pos_);
  if (n <= 0) return 0;
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || pos_ < 0) return 0;
  const auto end = static_cast<size_t>(pos_ + count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  const int64_t base = origin == soFromCurrent ? pos_
                       : origin == soFromEnd   ? static_cast<int64_t>(data_.size())
                                               : 0;
  pos_ = base + offset;
  return pos_;
}

TFileStream::TFileStream(const std::filesystem::path& path, TMode mode) {
  file_ = std::fopen(path.c_str(), mode == fmCreate ? "wb+" : "rb");
  if (!file_) throw EFOpenError("Cannot open file " + path.string());
}

TFileStream::~TFileStream() {
  if (file_) std::fclose(file_);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  return static_cast<int32_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  return static_cast<int32_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  const int whence = origin == soFromCurrent ? SEEK_CUR : origin == soFromEnd ? SEEK_END : SEEK_SET;
  if (std::fseek(file_, offset, whence) != 0) throw EStreamError("Stream seek error");
  return std::ftell(file_);
}
