// Arbitrary bytes as a RIFF WAVE image: the tolerant parse, every read path over what it found,
// and the INFO and DISP readers on their own. No crash, no read outside the image, no hang.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mmriff.h"
#include "mmwaveio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PWAVEIOCB cb;
  if (wioBuildFileInfoFromMem(cb, data, static_cast<int64_t>(size)) == kWioOk &&
      wioWaveOpen(cb.get()) == kWioOk) {
    std::vector<uint8_t> buf(4096);
    for (int i = 0; i < 64 && wioWaveReadData(cb.get(), buf.data(), 4096) > 0; ++i) {
    }
    wioWaveSetPosition(cb.get(), cb->dwDataSamples / 2);
    wioWaveReadSamples(cb.get(), buf.data(), 16);
    for (const auto& e : cb->lpInfo->entries) RiffInfoText(*cb->lpInfo, *e);
    RiffBuildINFO(*cb->lpInfo);
    RiffBuildDISP(*cb->lpDisp);
    wioWaveClose(cb.get());
  }
  std::unique_ptr<TInfoChunk> info;
  RiffInitINFO(info);
  RiffReadINFOBody({data, size}, info.get());
  for (const auto& e : info->entries) RiffInfoText(*info, *e);
  std::unique_ptr<TDispList> disp;
  RiffInitDISP(disp);
  RiffReadDISPBody({data, size}, disp.get());
  return 0;
}
