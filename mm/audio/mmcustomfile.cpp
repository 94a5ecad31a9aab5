#include "mmcustomfile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

[[noreturn]] void Abstract() { throw EAbstractError("Abstract Error"); }

std::vector<TMMAudioFileRegistration>& Registry() {
  static std::vector<TMMAudioFileRegistration> registry;
  return registry;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = s.find(sep, start);
    parts.push_back(s.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// Only names of existing files reach the readers: memory and resource waves come through
// explicit calls, never through a typed path.
bool NameTest(const std::string& name) {
  if (name.empty()) return false;
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(name), ec);
}

}  // namespace

TMMCustomFile::TMMCustomFile(vant::TComponent* owner) : TMMDSPComponent(owner) {}

bool TMMCustomFile::IsValidFile(const std::string&, const TMMDecryptProc&, int32_t,
                                TMMDecryptMode) {
  return false;
}
bool TMMCustomFile::GetFileInfoEx(const std::string&, TMMAudioFileInfo&, bool,
                                  const TMMDecryptProc&, int32_t, TMMDecryptMode) {
  return false;
}
std::string TMMCustomFile::GetFilter() { return ""; }
std::string TMMCustomFile::GetExtensions() { return ""; }

int32_t TMMCustomFile::GetSampleRate() {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f ? static_cast<int32_t>(f->nSamplesPerSec) : 0;
}
int32_t TMMCustomFile::GetChannels() {
  const WAVEFORMATEX* f = GetPWaveFormat();
  return f ? f->nChannels : 0;
}

void TMMCustomFile::SetTrailingHeader(bool) { Abstract(); }
bool TMMCustomFile::GetTrailingHeader() { Abstract(); }
void TMMCustomFile::SetDecryptCallback(const TMMDecryptProc&, int32_t) { Abstract(); }
void TMMCustomFile::SetDecryptMode(TMMDecryptMode) { Abstract(); }
bool TMMCustomFile::ScanFile() { Abstract(); }
bool TMMCustomFile::ScanFileEx(bool) { Abstract(); }
bool TMMCustomFile::EncryptFile(const std::string&) { Abstract(); }
bool TMMCustomFile::ReadID3Tag(TTAGInfo&) { Abstract(); }

// ---------------------------------------------------------------------------------------------
// The registry

void DoRegisterCustomAudioFile(const TMMCustomFileClass& file_class, int32_t priority) {
  auto& reg = Registry();
  for (const auto& r : reg) {
    if (r.FileClass.ClassName == file_class.ClassName) return;
  }
  auto at =
      std::upper_bound(reg.begin(), reg.end(), priority,
                       [](int32_t p, const TMMAudioFileRegistration& r) { return p < r.Priority; });
  reg.insert(at, TMMAudioFileRegistration{file_class, priority});
}

const std::vector<TMMAudioFileRegistration>& GetRegisteredAudioFiles() { return Registry(); }

void DoneRegisteredAudioFiles() { std::vector<TMMAudioFileRegistration>().swap(Registry()); }

std::string ExtractExtensions(const std::string& filter) {
  std::vector<std::string> seen;
  const std::vector<std::string> fields = Split(filter, '|');
  for (size_t i = 1; i < fields.size(); i += 2) {
    for (const std::string& pattern : Split(fields[i], ';')) {
      if (!pattern.empty() && std::find(seen.begin(), seen.end(), pattern) == seen.end()) {
        seen.push_back(pattern);
      }
    }
  }
  std::string result;
  for (const std::string& s : seen) result += (result.empty() ? "" : ";") + s;
  return result;
}

std::string GetRegisteredAudioFilters(bool all_entry) {
  std::string joined;
  for (const auto& r : Registry()) {
    joined += (joined.empty() ? "" : "|") + r.FileClass.GetFilter();
  }
  if (all_entry && Registry().size() > 1) {
    const std::string e = ExtractExtensions(joined);
    joined = "All Audio Files (" + e + ")|" + e + "|" + joined;
  }
  return joined;
}

bool IsFileSupported(const std::string& name) {
  const std::string ext = Upper(std::filesystem::path(name).extension().string());
  if (ext.empty()) return false;
  for (const std::string& pattern :
       Split(ExtractExtensions(GetRegisteredAudioFilters(false)), ';')) {
    const size_t dot = pattern.rfind('.');
    if (dot != std::string::npos && Upper(pattern.substr(dot)) == ext) return true;
  }
  return false;
}

const TMMCustomFileClass* FindAudioFileClass(const std::string& name, const TMMDecryptProc& decrypt,
                                             int32_t decrypt_value, TMMDecryptMode mode) {
  if (!NameTest(name)) return nullptr;
  for (const auto& r : Registry()) {
    if (r.FileClass.IsValidFile && r.FileClass.IsValidFile(name, decrypt, decrypt_value, mode)) {
      return &r.FileClass;
    }
  }
  return nullptr;
}

bool IsValidAudioFileEx(const std::string& name, const TMMDecryptProc& decrypt,
                        int32_t decrypt_value, TMMDecryptMode mode) {
  return FindAudioFileClass(name, decrypt, decrypt_value, mode) != nullptr;
}

bool IsValidAudioFile(const std::string& name) {
  return IsValidAudioFileEx(name, nullptr, 0, dmAll);
}

bool GetAudioFileInfoExx(const std::string& name, TMMAudioFileInfo& info, bool flag,
                         const TMMDecryptProc& decrypt, int32_t decrypt_value,
                         TMMDecryptMode mode) {
  const TMMCustomFileClass* c = FindAudioFileClass(name, decrypt, decrypt_value, mode);
  return c && c->GetFileInfoEx && c->GetFileInfoEx(name, info, flag, decrypt, decrypt_value, mode);
}

bool GetAudioFileInfoEx(const std::string& name, TMMAudioFileInfo& info, bool flag) {
  return GetAudioFileInfoExx(name, info, flag, nullptr, 0, dmAll);
}

bool GetAudioFileInfo(const std::string& name, TMMAudioFileInfo& info) {
  return GetAudioFileInfoEx(name, info, false);
}
