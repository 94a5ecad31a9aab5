#include "bwfcsv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

#include "bwfnotify.h"
#include "commatext.h"
#include "mmio.h"

namespace {

// The columns each edition imports; column 0 is the version, column c > 0 is field c - 1.
bool ImportsColumn(uint32_t key, int column) {
  switch (key) {
    case EditionKeyPostProduction:
      return column == 0 || column == 1 || column == 3 || (column >= 6 && column <= 34);
    case EditionKeyAgency:
      return column == 2 || column == 3 || column == 33 || column == 34;
    case EditionKeyBroadcaster:
      return column == 4 || column == 35 || column == 36;
    default:
      return false;
  }
}

// The whole file; false on a failed read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO never holds it up
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buf[65536];
  while (ok) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

// The text as the framework's string list gives it back: every line, however it ended, ends
// with CR LF.
std::string NormalizeLines(std::string_view raw) {
  std::string out;
  out.reserve(raw.size() + 2);
  size_t i = 0;
  while (i < raw.size()) {
    size_t end = raw.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = raw.size();
    out.append(raw.substr(i, end - i));
    out += "\r\n";
    i = end;
    if (i < raw.size() && raw[i] == '\r') ++i;
    if (i < raw.size() && raw[i] == '\n') ++i;
  }
  return out;
}

}  // namespace

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return fallback;
  const uint64_t limit = base == 16 ? UINT32_MAX : (negative ? 2147483648ull : INT32_MAX);
  if (v > limit) return fallback;
  int64_t s = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return static_cast<int32_t>(static_cast<uint32_t>(s));
}

std::string CmcdCsvLine(const TCmcdInfo& cmcd) {
  std::vector<std::string> values;
  values.reserve(bwf::kCmcdFieldCount + 2);
  values.push_back(std::to_string(cmcd.GetCmcdVersion()));
  for (int f = 0; f < bwf::kCmcdFieldCount; ++f) {
    values.push_back(cmcd.Get(static_cast<bwf::CmcdField>(f)));
  }
  values.emplace_back(bwf::kCmcdEndMarker);
  return vant::text::JoinCommaText(values) + "\r\n";
}

CsvImport ImportCmcdCsvText(TCmcdInfo& cmcd, std::string_view text, uint32_t key) {
  const std::vector<std::string> values = vant::text::SplitCommaText(text);
  if (values.size() <= static_cast<size_t>(bwf::kCmcdFieldCount)) return CsvImport::kTooFewValues;
  if (ImportsColumn(key, 0)) {
    cmcd.SetCmcdVersion(static_cast<uint16_t>(StrToIntDef(values[0], 0)));
  }
  for (int column = 1; column <= bwf::kCmcdFieldCount; ++column) {
    if (ImportsColumn(key, column)) {
      cmcd.Set(static_cast<bwf::CmcdField>(column - 1), values[static_cast<size_t>(column)]);
    }
  }
  return CsvImport::kDone;
}

bool ExportCsv(TBWFChunck& chunk, const std::filesystem::path& path, uint32_t /*key*/) {
  const std::string line = CmcdCsvLine(chunk.CmcdInfo);
  // A write-protected file is refused, as the save refuses it.
  mmio::ReplacingFile out(path, false);
  const bool ok = out.Write(line.data(), line.size()) && out.Commit();
  if (ok) {
    GetBWFNotifier().Information(kMsgExportDone);
  } else {
    GetBWFNotifier().Error(kMsgExportFailed);
  }
  return ok;
}

bool ImportCsv(TBWFChunck& chunk, const std::filesystem::path& path, uint32_t key) {
  std::string raw;
  if (!ReadWholeFile(path, raw)) {
    GetBWFNotifier().Error(kMsgImportFailed);
    return false;
  }
  if (ImportCmcdCsvText(chunk.CmcdInfo, NormalizeLines(raw), key) != CsvImport::kDone) {
    GetBWFNotifier().Error(kMsgImportInvalid);
    return false;
  }
  return true;
}
