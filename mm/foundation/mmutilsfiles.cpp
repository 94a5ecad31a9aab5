// File, folder and disk helpers of the toolbox (mmutils.h).
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "diskinfo.h"
#include "mmutils.h"
#include "tempfiles.h"

namespace fs = std::filesystem;

std::string CheckPath(std::string_view path, bool with_separator) {
  std::string p(path);
  if (p.empty()) return p;
  if (with_separator) {
    if (p.back() != '/') p += '/';
  } else if (p.back() == '/' && p.size() > 1) {
    p.pop_back();
  }
  return p;
}

std::string CheckFileName(std::string_view file_name) {
  std::string p(file_name);
  for (char& c : p)
    if (std::string_view("\"*,<>?|:").find(c) != std::string_view::npos) c = '_';
  const size_t slash = p.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : p.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  const size_t dot = name.rfind('.');
  std::string ext = (dot == std::string::npos || dot == 0) ? "" : name.substr(dot);
  name.resize(name.size() - ext.size());
  for (char& c : name)
    if (c == '.' || c == '\\') c = '_';
  return (folder.empty() ? folder : CheckPath(folder, true)) + name + ext;
}

std::string GetTempFile() {
  auto name = vant::MakeTempName(vant::TempFolder(), "w", ".tmp");
  return name ? name->string() : std::string();
}

bool CreateFullDir(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  const fs::path p(CheckPath(path, true));
  fs::path level = "/";
  bool any = false;
  for (const auto& part : p.relative_path()) {
    if (part.empty()) continue;
    any = true;
    level /= part;
    std::error_code ec;
    if (!fs::is_directory(level, ec) && !fs::create_directory(level, ec)) return false;
  }
  std::error_code ec;
  return any && fs::is_directory(p, ec);
}

void DeleteDir(std::string_view path) {
  std::error_code ec;
  const fs::path dir(path);
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (!entry.is_directory(ec)) fs::remove(entry.path(), ec);
  ::rmdir(dir.c_str());
}

int64_t GetFileSize(std::string_view file_name) {
  struct stat st;
  const std::string name(file_name);
  if (name.empty() || ::stat(name.c_str(), &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
}

std::string GetShortFileName(std::string_view file_name) {
  std::error_code ec;
  const fs::path p(file_name);
  if (file_name.empty() || !fs::exists(p, ec)) return {};
  return fs::absolute(p, ec).lexically_normal().filename().string();
}

bool GetDiskStats(std::string_view path, int64_t& free_bytes, int64_t& total_bytes) {
  std::string p(path);
  const size_t slash = p.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : p.substr(0, slash + 1);
  uint64_t free_u = 0, total_u = 1;
  const bool ok = vant::GetFreeSpace(folder, free_u, total_u);
  free_bytes = static_cast<int64_t>(free_u);
  total_bytes = static_cast<int64_t>(total_u);
  return ok;
}

bool GetDiskFree(std::string_view path, int64_t needed) {
  int64_t free_bytes, total_bytes;
  return GetDiskStats(path, free_bytes, total_bytes) && free_bytes >= needed;
}
