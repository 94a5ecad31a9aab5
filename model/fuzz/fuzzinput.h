#pragma once
// The fuzzers' input as a file: one in-memory file, rewritten for each input and opened by its
// /proc path, as the model opens only paths.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The file's path, or an empty string when the input could not be written.
inline std::string WriteFuzzInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("fuzz_input", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return {};
  return path;
}
