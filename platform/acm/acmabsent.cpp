// The manager of a build without FFmpeg's libraries: version 0, nothing possible.
#include "acm.h"

uint32_t acmFormatBytes(const ACMWAVEFORMAT* pwfx) {
  if (!pwfx) return 0;
  return pwfx->wFormatTag == kAcmTagPCM ? sizeof(ACMWAVEFORMAT)
                                        : sizeof(ACMWAVEFORMAT) + pwfx->cbSize;
}
uint32_t acmGetVersion() { return 0; }
MMRESULT acmMetrics(uint32_t, uint32_t& value) {
  value = 0;
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverEnum(const ACMDRIVERENUMCB&) { return MMSYSERR_NOTSUPPORTED; }
MMRESULT acmDriverDetails(HACMDRIVERID, ACMDRIVERDETAILS&) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmFormatTagDetails(ACMFORMATTAGDETAILS&, uint32_t) { return ACMERR_NOTPOSSIBLE; }
MMRESULT acmFormatTagEnum(const ACMFORMATTAGENUMCB&) { return MMSYSERR_NOTSUPPORTED; }
MMRESULT acmFormatDetails(ACMFORMATDETAILS&, uint32_t) { return ACMERR_NOTPOSSIBLE; }
MMRESULT acmFormatEnum(ACMFORMATDETAILS&, const ACMFORMATENUMCB&, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFormatSuggest(const ACMWAVEFORMAT*, ACMWAVEFORMAT*, uint32_t, uint32_t) {
  return ACMERR_NOTPOSSIBLE;
}
MMRESULT acmFilterTagDetails(ACMFILTERTAGDETAILS&, uint32_t) { return ACMERR_NOTPOSSIBLE; }
MMRESULT acmFilterTagEnum(const ACMFILTERTAGENUMCB&) { return MMSYSERR_NOTSUPPORTED; }
MMRESULT acmFilterDetails(ACMFILTERDETAILS&, uint32_t) { return ACMERR_NOTPOSSIBLE; }
MMRESULT acmStreamOpen(HACMSTREAM* stream, const ACMWAVEFORMAT*, const ACMWAVEFORMAT*,
                       const WAVEFILTER*, uint32_t) {
  if (stream) *stream = nullptr;
  return ACMERR_NOTPOSSIBLE;
}
MMRESULT acmStreamClose(HACMSTREAM) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmStreamSize(HACMSTREAM, uint32_t, uint32_t&, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmStreamPrepareHeader(HACMSTREAM, ACMSTREAMHEADER*) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmStreamUnprepareHeader(HACMSTREAM, ACMSTREAMHEADER*) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmStreamConvert(HACMSTREAM, ACMSTREAMHEADER*, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmStreamReset(HACMSTREAM) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmFormatChoose(ACMFORMATCHOOSE&) { return ACMERR_NOTPOSSIBLE; }
MMRESULT acmFilterChoose(ACMFILTERCHOOSE&) { return ACMERR_NOTPOSSIBLE; }
void SetAcmChooser(AcmChooser*) {}
