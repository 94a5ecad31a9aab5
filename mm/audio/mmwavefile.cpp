#include "mmwavefile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "mmdspthread.h"
#include "mmutils.h"
#include "msgtable.h"

namespace {

constexpr int64_t kSpaceReserve = 10240;

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// Whether "*" + the name's extension is one of the ";"-separated patterns (any case).
bool ExtensionListed(const std::string& extension, const std::string& patterns) {
  const std::string wanted = Upper("*" + extension);
  size_t from = 0;
  for (;;) {
    const size_t to = patterns.find(';', from);
    if (Upper(patterns.substr(from, to - from)) == wanted) return true;
    if (to == std::string::npos) return false;
    from = to + 1;
  }
}

}  // namespace

TMMCustomWaveFile::TMMCustomWaveFile(vant::TComponent* owner, bool memoryWave)
    : TMMCustomFile(owner), wave_(std::make_unique<TMMWave>(memoryWave)) {
  SetFileType(ftWave);
  observer_.OnNotify = [this](vant::TObject*, vant::TObject*) { DoChanged(); };
  wave_->AddObserver(&observer_);
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
  Closed();
  wave_->RemoveObserver(&observer_);
}

// ---- the reader class ----

bool TMMCustomWaveFile::IsValidFile(const std::string& name, const TMMDecryptProc&, int32_t,
                                    TMMDecryptMode) {
  const std::string extension = std::filesystem::path(name).extension().string();
  if (!extension.empty() && !ExtensionListed(extension, GetExtensions())) return false;
  return wioIsWaveFile(name, kWioFile);
}

bool TMMCustomWaveFile::GetFileInfoEx(const std::string& name, TMMAudioFileInfo& info, bool,
                                      const TMMDecryptProc&, int32_t, TMMDecryptMode) {
  PWAVEIOCB block;
  if (wioReadFileInfo(block, name, kWaveForm, kWioFile) != kWioOk) return false;
  info = TMMAudioFileInfo{};
  info.Valid = true;
  info.Length = static_cast<int32_t>(wioSamplesToTimeEx(block.get(), block->dwDataSamples));
  info.TagInfo.Title = std::filesystem::path(name).filename().string();
  return true;
}

std::string TMMCustomWaveFile::GetFilter() { return vant::LibraryMessage(28004); }

int32_t TMMCustomWaveFile::GetOptimalReadSize() {
  const WAVEFORMATEX* f = wave_->GetPWaveFormat();
  return f ? f->nBlockAlign : 0;
}

int32_t TMMCustomWaveFile::GetPlayTime() {
  const TWAVEIOCB* block = wave_->GetPWaveIOCB();
  return block ? static_cast<int32_t>(wioSamplesToTimeEx(block, block->dwDataSamples)) : 0;
}

int32_t TMMCustomWaveFile::GetPositionMs() {
  const int64_t samples = wave_->TimeFormatToSamples(wave_->GetPosition());
  return static_cast<int32_t>(wioSamplesToTimeEx(wave_->GetPWaveIOCB(), samples));
}

void TMMCustomWaveFile::SetPositionMs(int32_t ms) {
  const int64_t samples = wioTimeToSamplesEx(wave_->GetPWaveIOCB(), ms);
  wave_->SetPosition(wave_->SamplesToTimeFormat(samples));
}

// ---- changes ----

void TMMCustomWaveFile::DoChanged() {
  if (OnChange) OnChange(this);
  try {
    if (wave_->GetPWaveFormat() || wave_->GetFileMustExist())
      SetPWaveFormat(wave_->GetPWaveFormat());
  } catch (...) {
    if (OnChanged) OnChanged(this);
    throw;
  }
  if (OnChanged) OnChanged(this);
}

void TMMCustomWaveFile::SetPWaveFormat(const WAVEFORMATEX* format) {
  TMMCustomFile::SetPWaveFormat(format);
  const WAVEFORMATEX* f = GetPWaveFormat();
  silence_ = f && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8 ? 128 : 0;
}

// ---- the chain ----

void TMMCustomWaveFile::Opened() {
  TMMCustomFile::Opened();
  if (open_) return;
  if (GetInput()) {
    SetPWaveFormat(GetInput()->GetPWaveFormat());
    const WAVEFORMATEX* format = GetPWaveFormat();
    if (format && !wave_->GetFileName().empty()) {
      if (overwrite_ || wave_->GetEmpty()) {
        wave_->CreateFile(wave_->GetFileName(), format);
      } else {
        // Recorded bytes replace what lies from the wave's position on.
        wave_->OpenFile();
      }
    }
  } else if (!wave_->GetEmpty()) {
    wave_->OpenFile();
    saved_position_ = wave_->GetPosition();
  }
  open_ = true;
  if (OnOpen) GlobalSynchronize([this] { OnOpen(this); });
}

void TMMCustomWaveFile::Started() {
  TMMCustomFile::Started();
  if (!open_ || started_) return;
  started_ = true;
  if (!GetInput()) wave_->SetPosition(saved_position_);
  wave_->InitPlayFadeList(false);
}

void TMMCustomWaveFile::Stopped() {
  started_ = false;
  wave_->ClearPlayFadeList();
  TMMCustomFile::Stopped();
}

void TMMCustomWaveFile::Reseting() {
  if (started_) wave_->ResetFile();
  TMMCustomFile::Reseting();
}

void TMMCustomWaveFile::Closed() {
  if (open_) {
    Stopped();
    const TWAVEIOCB* block = wave_->GetPWaveIOCB();
    if (GetInput() && !wave_->GetFileName().empty() && block && block->wfx &&
        block->dwDataBytes == 0 && block->hmmio) {
      // A recording is never an empty file.
      static const uint8_t kZeros[4] = {};
      wave_->WriteDataBytes(kZeros, sizeof kZeros);
    }
    wave_->CloseFile();
    open_ = false;
    if (OnClose) GlobalSynchronize([this] { OnClose(this); });
  }
  TMMCustomFile::Closed();
}

void TMMCustomWaveFile::WriteBuffer(PMMWaveHdr lpWaveHdr) {
  const int64_t bytes = lpWaveHdr->wh.dwBytesRecorded;
  if (!started_ || !GetEnabled() || bytes <= 0 || wave_->GetFileName().empty()) return;
  if (!GetDiskFree(wave_->GetFileName(), bytes + wave_->GetIOBufferSize() + kSpaceReserve) ||
      wave_->WriteDataBytes(lpWaveHdr->wh.lpData, bytes) != bytes) {
    Closed();
  }
}

void TMMCustomWaveFile::BufferReady(PMMWaveHdr lpWaveHdr) {
  if (GetInput()) WriteBuffer(lpWaveHdr);
  TMMCustomFile::BufferReady(lpWaveHdr);
}

void TMMCustomWaveFile::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (GetInput()) {
    TMMCustomFile::BufferLoad(lpWaveHdr, MoreBuffers);
    WriteBuffer(lpWaveHdr);
    return;
  }
  auto& wh = lpWaveHdr->wh;
  if (wave_->GetEmpty()) {
    wh.dwBytesRecorded = 0;
    return;
  }
  if (!started_ || !GetEnabled()) {
    std::memset(wh.lpData, silence_, wh.dwBufferLength);
    wh.dwBytesRecorded = wh.dwBufferLength;
    MoreBuffers = true;
    return;
  }
  const int64_t got = std::max<int64_t>(wave_->ReadDataBytes(wh.lpData, wh.dwBufferLength), 0);
  wh.dwBytesRecorded = static_cast<uint32_t>(got);
  if (got == 0) return;
  if (wave_->GetBytesLeft() > 0) {
    MoreBuffers = true;
    return;
  }
  TMMLoopRec& loop = lpWaveHdr->LoopRec;
  if (loop.dwLooping == 0) return;
  if (loop.dwLoopCount > 0) --loop.dwLoopsLeft;
  if (loop.dwLoopCount != 0 && loop.dwLoopsLeft < 0) return;
  wave_->SetPosition(0);
  wave_->ResetFile();
  if (OnLooping) OnLooping(this);
  MoreBuffers = true;
  loop.dwLooped = -1;
}

void RegisterAudioFileReaders() {
  DoRegisterCustomAudioFile(FileClassOf<TMMWaveFile>("TMMWaveFile"), 5);
}
