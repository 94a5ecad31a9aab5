#pragma once
// The compression manager: format tags, formats, suggestions and conversion streams between wave
// formats. Compressed tags are decoded and encoded by FFmpeg's libavcodec; every change between
// PCM formats (rate, sample width, channels) runs through libswresample; the two standard
// filters (volume and echo) are our own loops. Calls and result codes follow what the audio
// engine expects of a compression manager; a conversion is synchronous, so a header is done
// when acmStreamConvert returns.
#include <cstdint>
#include <functional>
#include <string>

#include "waveout.h"

using MMRESULT = uint32_t;
using ACMWAVEFORMAT = vant::audio::WaveFormatEx;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
inline constexpr MMRESULT ACMERR_BUSY = 513;
inline constexpr MMRESULT ACMERR_UNPREPARED = 514;
inline constexpr MMRESULT ACMERR_CANCELED = 515;

// Format tags the manager knows by name.
inline constexpr uint16_t kAcmTagPCM = 0x0001;
inline constexpr uint16_t kAcmTagADPCM = 0x0002;
inline constexpr uint16_t kAcmTagFloat = 0x0003;
inline constexpr uint16_t kAcmTagALaw = 0x0006;
inline constexpr uint16_t kAcmTagMuLaw = 0x0007;
inline constexpr uint16_t kAcmTagIMA = 0x0011;
inline constexpr uint16_t kAcmTagGSM610 = 0x0031;
inline constexpr uint16_t kAcmTagMPEG = 0x0050;
inline constexpr uint16_t kAcmTagMP3 = 0x0055;

inline constexpr uint32_t kAcmFilterVolume = 0x0001;
inline constexpr uint32_t kAcmFilterEcho = 0x0002;

// Metrics.
enum : uint32_t {
  ACM_METRIC_COUNT_DRIVERS = 1,
  ACM_METRIC_COUNT_CODECS = 2,
  ACM_METRIC_COUNT_CONVERTERS = 3,
  ACM_METRIC_COUNT_FILTERS = 4,
  ACM_METRIC_MAX_SIZE_FORMAT = 50,
  ACM_METRIC_MAX_SIZE_FILTER = 51,
};

// Flags of the suggestion: which fields of the target constrain it.
enum : uint32_t {
  ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000,
  ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000,
  ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000,
  ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000,
};

// Stream open, size and convert flags; header status bits.
enum : uint32_t {
  ACM_STREAMOPENF_QUERY = 0x00000001,
  ACM_STREAMOPENF_NONREALTIME = 0x00000004,
  ACM_STREAMSIZEF_SOURCE = 0x00000000,
  ACM_STREAMSIZEF_DESTINATION = 0x00000001,
  ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004,
  ACM_STREAMCONVERTF_START = 0x00000010,
  ACM_STREAMCONVERTF_END = 0x00000020,
  ACMSTREAMHEADER_STATUSF_DONE = 0x00010000,
  ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000,
};

// Details and enumeration flags.
enum : uint32_t {
  ACM_FORMATTAGDETAILSF_INDEX = 0,
  ACM_FORMATTAGDETAILSF_FORMATTAG = 1,
  ACM_FORMATDETAILSF_INDEX = 0,
  ACM_FORMATDETAILSF_FORMAT = 1,
  ACM_FORMATENUMF_WFORMATTAG = 0x00010000,
  ACM_FORMATENUMF_NCHANNELS = 0x00020000,
  ACM_FORMATENUMF_NSAMPLESPERSEC = 0x00040000,
  ACM_FORMATENUMF_WBITSPERSAMPLE = 0x00080000,
  ACM_FORMATENUMF_CONVERT = 0x00100000,
  ACM_FORMATENUMF_SUGGEST = 0x00200000,
  ACM_FORMATENUMF_INPUT = 0x00800000,
  ACM_FORMATENUMF_OUTPUT = 0x01000000,
  ACM_FILTERTAGDETAILSF_FILTERTAG = 1,
  ACM_FILTERDETAILSF_FILTER = 1,
  ACM_FILTERENUMF_DWFILTERTAG = 0x00010000,
};

#pragma pack(push, 1)
// A wave filter record: its size first, then the tag and flags; volume and echo add fields.
struct WAVEFILTER {
  uint32_t cbStruct;
  uint32_t dwFilterTag;
  uint32_t fdwFilter;
  uint32_t dwReserved[5];
};
struct VOLUMEWAVEFILTER {
  WAVEFILTER wfltr;
  uint32_t dwVolume;  // 16.16, 0x10000 = unchanged
};
struct ECHOWAVEFILTER {
  WAVEFILTER wfltr;
  uint32_t dwVolume;  // 16.16 level of the echo
  uint32_t dwDelay;   // milliseconds
};
#pragma pack(pop)

struct ACMStream;
using HACMSTREAM = ACMStream*;

struct ACMSTREAMHEADER {
  uint32_t cbStruct;
  uint32_t fdwStatus;
  uintptr_t dwUser;
  uint8_t* pbSrc;
  uint32_t cbSrcLength;
  uint32_t cbSrcLengthUsed;
  uintptr_t dwSrcUser;
  uint8_t* pbDst;
  uint32_t cbDstLength;
  uint32_t cbDstLengthUsed;
  uintptr_t dwDstUser;
  uint32_t dwReservedDriver[10];
};

struct ACMDRIVERDETAILS {
  uint32_t cFormatTags = 0;
  uint32_t cFilterTags = 0;
  std::string szShortName;
  std::string szLongName;
};

struct ACMFORMATTAGDETAILS {
  uint32_t dwFormatTagIndex = 0;
  uint32_t dwFormatTag = 0;
  uint32_t cbFormatSize = 0;
  uint32_t cStandardFormats = 0;
  std::string szFormatTag;
};

struct ACMFORMATDETAILS {
  uint32_t dwFormatIndex = 0;
  uint32_t dwFormatTag = 0;
  ACMWAVEFORMAT* pwfx = nullptr;  // the caller's buffer of cbwfx bytes
  uint32_t cbwfx = 0;
  std::string szFormat;
};

struct ACMFILTERTAGDETAILS {
  uint32_t dwFilterTag = 0;
  uint32_t cbFilterSize = 0;
  std::string szFilterTag;
};

struct ACMFILTERDETAILS {
  uint32_t dwFilterTag = 0;
  WAVEFILTER* pwfltr = nullptr;
  uint32_t cbwfltr = 0;
  std::string szFilter;
};

using HACMDRIVERID = uintptr_t;
// Enumeration callbacks return false to stop.
using ACMDRIVERENUMCB = std::function<bool(HACMDRIVERID)>;
using ACMFORMATTAGENUMCB = std::function<bool(HACMDRIVERID, const ACMFORMATTAGDETAILS&)>;
using ACMFORMATENUMCB = std::function<bool(HACMDRIVERID, const ACMFORMATDETAILS&)>;
using ACMFILTERTAGENUMCB = std::function<bool(HACMDRIVERID, const ACMFILTERTAGDETAILS&)>;

// Major, minor and build in the high, next and low 16 bits; 0 when the libraries are missing.
uint32_t acmGetVersion();
MMRESULT acmMetrics(uint32_t metric, uint32_t& value);

MMRESULT acmDriverEnum(const ACMDRIVERENUMCB& callback);
MMRESULT acmDriverDetails(HACMDRIVERID id, ACMDRIVERDETAILS& details);

MMRESULT acmFormatTagDetails(ACMFORMATTAGDETAILS& details, uint32_t flags);
MMRESULT acmFormatTagEnum(const ACMFORMATTAGENUMCB& callback);
// FORMAT: describes details.pwfx. INDEX: the dwFormatIndex-th standard format of dwFormatTag.
MMRESULT acmFormatDetails(ACMFORMATDETAILS& details, uint32_t flags);
// The standard formats; details.pwfx constrains by the fields the flags name (CONVERT and
// SUGGEST: formats pwfx converts to).
MMRESULT acmFormatEnum(ACMFORMATDETAILS& details, const ACMFORMATENUMCB& callback, uint32_t flags);
// A format source converts to, constrained by the fields of dst the flags name.
MMRESULT acmFormatSuggest(const ACMWAVEFORMAT* src, ACMWAVEFORMAT* dst, uint32_t dstBytes,
                          uint32_t flags);

MMRESULT acmFilterTagDetails(ACMFILTERTAGDETAILS& details, uint32_t flags);
MMRESULT acmFilterTagEnum(const ACMFILTERTAGENUMCB& callback);
MMRESULT acmFilterDetails(ACMFILTERDETAILS& details, uint32_t flags);

// With ACM_STREAMOPENF_QUERY only answers whether the conversion is possible (stream may be nil).
MMRESULT acmStreamOpen(HACMSTREAM* stream, const ACMWAVEFORMAT* src, const ACMWAVEFORMAT* dst,
                       const WAVEFILTER* filter, uint32_t flags);
MMRESULT acmStreamClose(HACMSTREAM stream);
MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t& output, uint32_t flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header);
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);
MMRESULT acmStreamReset(HACMSTREAM stream);

// The choosers: the user picks a format (or filter) from those the enumeration flags allow; the
// choice is left in the caller's buffer. ACMERR_CANCELED when the user cancels.
enum : uint32_t { ACM_FORMATCHOOSEF_INITTOWFXSTRUCT = 0x00000040 };
struct ACMFORMATCHOOSE {
  uint32_t fdwStyle = 0;
  std::string pszTitle;
  ACMWAVEFORMAT* pwfx = nullptr;  // in (with INITTOWFXSTRUCT): the first choice; out: the choice
  uint32_t cbwfx = 0;
  uint32_t fdwEnum = 0;                     // ACM_FORMATENUMF_* restricting the list
  const ACMWAVEFORMAT* pwfxEnum = nullptr;  // the record those flags refer to
  std::string szFormatTag;                  // out: names of the choice
  std::string szFormat;
};
struct ACMFILTERCHOOSE {
  uint32_t fdwStyle = 0;  // ACM_FORMATCHOOSEF_INITTOWFXSTRUCT: pwfltr holds the first choice
  std::string pszTitle;
  WAVEFILTER* pwfltr = nullptr;
  uint32_t cbwfltr = 0;
  std::string szFilterTag;
  std::string szFilter;
};
MMRESULT acmFormatChoose(ACMFORMATCHOOSE& choose);
MMRESULT acmFilterChoose(ACMFILTERCHOOSE& choose);

// Who asks the user: our own dialogs unless a test installs another (not owned; nil restores).
class AcmChooser {
 public:
  virtual ~AcmChooser() = default;
  virtual MMRESULT ChooseFormat(ACMFORMATCHOOSE& choose) = 0;
  virtual MMRESULT ChooseFilter(ACMFILTERCHOOSE& choose) = 0;
};
void SetAcmChooser(AcmChooser* chooser);

// The size of a format record: 18 for PCM, else 18 plus its extra size.
uint32_t acmFormatBytes(const ACMWAVEFORMAT* pwfx);
