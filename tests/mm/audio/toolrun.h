#pragma once
// Runs a public tool's fixed command line for the interop tests (the tools are installed on
// every CI machine) and gives its output, standard error included.
#include <array>
#include <cstdio>
#include <memory>
#include <string>

inline std::string RunTool(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe.get())) > 0) out.append(buf.data(), n);
  return out;
}
