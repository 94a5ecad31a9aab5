#include "mmwavefmt.h"

#include "mmutils.h"

#include <cstdio>
#include <cstring>

namespace vant::wio {

int64_t MulDivNearest(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  const __int128 p = static_cast<__int128>(a) * b;
  __int128 q = p / c;
  const __int128 r = p % c;
  // q + (2r div c): the remainder's rounded share, as the signed 32-bit routine defines it.
  q += (2 * r) / c;
  return static_cast<int64_t>(q);
}

uint64_t MulDivTrunc(uint64_t a, uint64_t b, uint64_t c) {
  if (c == 0) return 0;
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b / c);
}

int64_t RoundUpToBlock(int64_t n, int64_t align) {
  if (align <= 0 || n <= 0) return n;
  const int64_t rest = n % align;
  return rest == 0 ? n : n + (align - rest);
}

}  // namespace vant::wio

using vant::wio::MulDivNearest;
using vant::wio::MulDivTrunc;
using vant::wio::RoundUpToBlock;

uint32_t wioSamplesPerBlock(const WAVEFORMATEX* pwfx) {
  if (pwfx == nullptr || pwfx->nChannels == 0) return 0;
  const uint32_t align = pwfx->nBlockAlign, ch = pwfx->nChannels;
  uint32_t most = 0;
  switch (pwfx->wFormatTag) {
    case 0x0002:  // Microsoft ADPCM: a 7-byte header per channel holds two samples
      most = align > 7 * ch ? (align - 7 * ch) * 2 / ch + 2 : 0;
      break;
    case 0x0011:  // IMA ADPCM: a 4-byte header per channel holds one sample
      most = align > 4 * ch ? (align - 4 * ch) * 2 / ch + 1 : 0;
      break;
    case 0x0031:  // GSM 6.10: 320 samples in 65 bytes
      most = align % 65 == 0 ? align / 65 * 320 : 0;
      break;
    default:
      return 0;
  }
  if (most == 0) return 0;
  uint16_t stated = 0;
  if (pwfx->cbSize >= 2) std::memcpy(&stated, reinterpret_cast<const uint8_t*>(pwfx) + 18, 2);
  return stated > 0 && stated <= most ? stated : most;
}

uint32_t wioSizeOfWaveFormat(const WAVEFORMATEX* pwfx) {
  if (pwfx == nullptr) return 0;
  if (pwfx->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return sizeof(WAVEFORMATEX) + pwfx->cbSize;
}

TWaveFormatPtr wioCopyWaveFormat(const WAVEFORMATEX* pwfx) {
  if (pwfx == nullptr) return nullptr;
  const uint32_t size = wioSizeOfWaveFormat(pwfx);
  TWaveFormatPtr copy = AllocWaveFormat(size);
  if (!copy) return nullptr;
  std::memcpy(copy.get(), pwfx, size);
  if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
  return copy;
}

namespace {

struct FormatName {
  uint16_t tag;
  const char* name;
};

// First match wins, so the second 0x0011 row is never returned.
constexpr FormatName kFormatNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};

// Kept between calls, refreshed from the system's settings by each wioGetFormat.
char g_listSeparator = ',';
char g_decimalSeparator = '.';

// The locale is the system's word on the decimal separator; it knows no list separator.
void RefreshSeparators() { g_decimalSeparator = DecimalSeparator(); }

}  // namespace

void wioGetFormatName(const WAVEFORMATEX* pwfx, std::string& text) {
  text = "Unknown";
  if (pwfx == nullptr) return;
  for (const FormatName& row : kFormatNames) {
    if (row.tag == pwfx->wFormatTag) {
      text = row.name;
      return;
    }
  }
}

void wioGetFormat(const WAVEFORMATEX* pwfx, std::string& text) {
  if (pwfx == nullptr) {
    text = "Unknown";
    return;
  }
  RefreshSeparators();
  const uint32_t rate = pwfx->nSamplesPerSec;
  const uint32_t channels = pwfx->nChannels;
  uint32_t bits = 0;
  if (rate != 0 && channels != 0) {
    bits = static_cast<uint32_t>(uint64_t{pwfx->nAvgBytesPerSec} * 8 / rate / channels);
  }
  const char list[2] = {g_listSeparator, '\0'};
  const char decimal[2] = {g_decimalSeparator, '\0'};
  char buf[128];
  if (channels == 1 || channels == 2) {
    std::snprintf(buf, sizeof buf, "%u%s%.03u kHz%s %u Bit%s %s", rate / 1000, decimal, rate % 1000,
                  list, bits, list, channels == 1 ? "Mono" : "Stereo");
  } else {
    std::snprintf(buf, sizeof buf, "%u%s%.03u kHz%s %u Bit%s %u Channels", rate / 1000, decimal,
                  rate % 1000, list, bits, list, channels);
  }
  text = buf;
}

int32_t wioBytesPerSample(const WAVEFORMATEX* pwfx) { return wioSamplesToBytes(pwfx, 1); }

int32_t wioBytesToSamples(const WAVEFORMATEX* pwfx, int32_t bytes) {
  if (pwfx == nullptr) return 0;
  return static_cast<int32_t>(MulDivNearest(bytes, pwfx->nSamplesPerSec, pwfx->nAvgBytesPerSec));
}

int32_t wioBytesToTime(const WAVEFORMATEX* pwfx, int32_t bytes) {
  if (pwfx == nullptr) return 0;
  return static_cast<int32_t>(MulDivNearest(bytes, 1000, pwfx->nAvgBytesPerSec));
}

int32_t wioSamplesToBytes(const WAVEFORMATEX* pwfx, int32_t samples) {
  if (pwfx == nullptr) return 0;
  const int64_t bytes = MulDivNearest(samples, pwfx->nAvgBytesPerSec, pwfx->nSamplesPerSec);
  return static_cast<int32_t>(RoundUpToBlock(bytes, pwfx->nBlockAlign));
}

int32_t wioSamplesToTime(const WAVEFORMATEX* pwfx, int32_t samples) {
  if (pwfx == nullptr) return 0;
  return static_cast<int32_t>(MulDivNearest(samples, 1000, pwfx->nSamplesPerSec));
}

int32_t wioTimeToSamples(const WAVEFORMATEX* pwfx, int32_t ms) {
  if (pwfx == nullptr) return 0;
  return static_cast<int32_t>(MulDivNearest(ms, pwfx->nSamplesPerSec, 1000));
}

int32_t wioTimeToBytes(const WAVEFORMATEX* pwfx, int32_t ms) {
  if (pwfx == nullptr) return 0;
  const int64_t bytes = MulDivNearest(ms, pwfx->nAvgBytesPerSec, 1000);
  return static_cast<int32_t>(RoundUpToBlock(bytes, pwfx->nBlockAlign));
}

namespace {
uint64_t RoundUpToBlock64(uint64_t n, uint64_t align) {
  if (align == 0) return n;
  const uint64_t rest = n % align;
  return rest == 0 ? n : n + (align - rest);
}
}  // namespace

uint64_t wioBytesToSamples64(const WAVEFORMATEX* pwfx, uint64_t bytes) {
  if (pwfx == nullptr) return 0;
  return MulDivTrunc(bytes, pwfx->nSamplesPerSec, pwfx->nAvgBytesPerSec);
}

uint64_t wioBytesToTime64(const WAVEFORMATEX* pwfx, uint64_t bytes) {
  if (pwfx == nullptr) return 0;
  return MulDivTrunc(bytes, 1000, pwfx->nAvgBytesPerSec);
}

uint64_t wioSamplesToBytes64(const WAVEFORMATEX* pwfx, uint64_t samples) {
  if (pwfx == nullptr) return 0;
  return RoundUpToBlock64(MulDivTrunc(samples, pwfx->nAvgBytesPerSec, pwfx->nSamplesPerSec),
                          pwfx->nBlockAlign);
}

uint64_t wioSamplesToTime64(const WAVEFORMATEX* pwfx, uint64_t samples) {
  if (pwfx == nullptr) return 0;
  return MulDivTrunc(samples, 1000, pwfx->nSamplesPerSec);
}

uint64_t wioTimeToSamples64(const WAVEFORMATEX* pwfx, uint64_t ms) {
  if (pwfx == nullptr) return 0;
  return MulDivTrunc(ms, pwfx->nSamplesPerSec, 1000);
}

uint64_t wioTimeToBytes64(const WAVEFORMATEX* pwfx, uint64_t ms) {
  if (pwfx == nullptr) return 0;
  return RoundUpToBlock64(MulDivTrunc(ms, pwfx->nAvgBytesPerSec, 1000), pwfx->nBlockAlign);
}
