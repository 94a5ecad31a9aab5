#pragma once
// A test-side reader behind the reader interface: loads a whole RIFF WAVE file through the
// wave I/O layer and serves it from memory. Names ending in ".broken" are accepted but fail
// to open, for the audio file's error path.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mmcustomfile.h"
#include "mmwavefmt.h"
#include "mmwaveio.h"

class TestWaveReader : public TMMCustomFile {
 public:
  explicit TestWaveReader(vant::TComponent* owner) : TMMCustomFile(owner) {
    PublishLinks(false, true);
    SetFileType(ftWave);
    ++Created;
  }
  static inline int Created = 0;

  static bool Broken(const std::string& name) {
    return name.size() > 7 && name.substr(name.size() - 7) == ".broken";
  }
  static bool IsValidFile(const std::string& name, const TMMDecryptProc&, int32_t, TMMDecryptMode) {
    return Broken(name) || wioIsWaveFile(name, kWioFile);
  }
  static bool GetFileInfoEx(const std::string& name, TMMAudioFileInfo& info, bool,
                            const TMMDecryptProc&, int32_t, TMMDecryptMode) {
    TWaveFormatPtr f;
    std::vector<uint8_t> data;
    int64_t size = 0;
    if (wioWaveLoadFile(name, f, data, size) != kWioOk) return false;
    info.Valid = true;
    info.Length = static_cast<int32_t>(wioBytesToTime64(f.get(), size));
    return true;
  }
  static std::string GetFilter() { return "Wave Files(*.wav)|*.wav"; }
  static std::string GetExtensions() { return "wav"; }

  int32_t GetOptimalReadSize() override { return 4096; }
  bool GetEmpty() override { return name_.empty(); }
  int32_t GetPlayTime() override {
    return static_cast<int32_t>(wioBytesToTime64(GetPWaveFormat(), data_.size()));
  }
  std::string GetFileName() override { return name_; }
  void SetFileName(const std::string& name) override {
    if (Broken(name)) throw EMMAudioError("Unable to read " + name);
    name_.clear();
    data_.clear();
    pos_ = 0;
    if (name.empty()) {
      SetPWaveFormat(nullptr);
      return;
    }
    TWaveFormatPtr f;
    int64_t size = 0;
    if (wioWaveLoadFile(name, f, data_, size) != kWioOk) throw EMMAudioError("bad file");
    name_ = name;
    SetPWaveFormat(f.get());
  }
  int64_t GetPosition() override { return pos_; }
  void SetPosition(int64_t bytes) override { pos_ = std::clamp<int64_t>(bytes, 0, data_.size()); }
  int32_t GetPositionMs() override {
    return static_cast<int32_t>(wioBytesToTime64(GetPWaveFormat(), pos_));
  }
  void SetPositionMs(int32_t ms) override {
    SetPosition(static_cast<int64_t>(wioTimeToBytes64(GetPWaveFormat(), ms)));
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    const int64_t n = std::min<int64_t>(h->wh.dwBufferLength - h->wh.dwBytesRecorded,
                                        int64_t(data_.size()) - pos_);
    if (n > 0) std::memcpy(h->wh.lpData + h->wh.dwBytesRecorded, data_.data() + pos_, n);
    pos_ += std::max<int64_t>(n, 0);
    h->wh.dwBytesRecorded += static_cast<uint32_t>(std::max<int64_t>(n, 0));
    more = pos_ < int64_t(data_.size());
  }

 private:
  std::string name_;
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};
