#pragma once
// The compression manager for applications: TMMACM (counts of drivers and codecs, enumeration
// of format tags and formats, the format and filter choosers, whole-file conversion and
// filtering of a wave file), format and filter descriptions, keeping a format in the settings
// store, and ready-made records of a few compressed formats.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mmacm.h"
#include "mmobj.h"
#include "mmutils.h"
#include "mmwaveformat.h"

VANT_DECLARE_EXCEPTION(EMMACMError, vant::Exception);

using TWaveFilter = WAVEFILTER;

// 1, or 0 for nil: the manager's names, or the built-in ones without a usable manager.
int acmGetFormatDescription(const WAVEFORMATEX* pwfx, std::string& name, std::string& description);
int acmGetFilterDescription(const TWaveFilter* filter, std::string& name, std::string& description);

void acmSaveFormatToRegistry(const WAVEFORMATEX* pwfx, HKEY root, std::string_view key,
                             std::string_view name);
// Nil when nothing (or a record shorter than its extra size claims) was stored.
TWaveFormatPtr acmGetFormatFromRegistry(HKEY root, std::string_view key, std::string_view name);

// New zero-filled records.
TWaveFormatPtr acmBuildTrueSpeechHeader();
TWaveFormatPtr acmBuildGSM610Header(int rate);
TWaveFormatPtr acmBuildADPCMHeader(int rate, int channels);
TWaveFormatPtr acmBuildMPEG1Header(int rate, int bitrate, int channels);
TWaveFormatPtr acmBuildMP3Header(int rate, int kilobits, int channels);
TWaveFormatPtr acmBuildMPEGHeader(int layer, int rate, int bitrate, int channels);

enum TMMACMEnumFormats { efAll, efInput, efOutput, efConvert, efSuggest, efRestrict };

using TMMACMCodecEnum = std::function<void(vant::TObject* Sender, uint32_t dwFormatTag,
                                           const std::string& Description, bool& Continue)>;
using TMMACMFormatEnum = std::function<void(vant::TObject* Sender, const WAVEFORMATEX* pwfx,
                                            const std::string& Description, bool& Continue)>;
// Progress of a whole-file conversion: bytes done of the total; setting Cancel ends it.
using TMMACMProgress =
    std::function<void(vant::TObject* Sender, int64_t done, int64_t total, bool& Cancel)>;

class TMMACM : public TMMNonVisualComponent {
 public:
  explicit TMMACM(vant::TComponent* owner);
  ~TMMACM() override;
  std::string ClassName() const override { return "TMMACM"; }

  bool ACMPresent() const { return present_; }
  uint32_t Version() const { return version_; }
  int32_t NumDrivers() const { return drivers_; }
  int32_t NumCodecs() const { return codecs_; }
  int32_t NumConverters() const { return converters_; }
  int32_t NumFilters() const { return filters_; }

  TMMACMEnumFormats EnumFormats = efAll;
  std::string Title;
  // The wave file conversions read (not owned): its file name.
  std::string Source;
  TMMACMCodecEnum OnCodecEnum;
  TMMACMFormatEnum OnFormatEnum;
  TMMACMProgress OnProgress;

  bool EnumerateCodecs();
  bool EnumerateFormats(uint16_t tag);
  bool SuggestFormat(const WAVEFORMATEX* pwfx, uint32_t flags);
  bool ChooseFormat(const WAVEFORMATEX* pwfx, const std::string& title);
  bool ChooseFilter(const TWaveFilter* filter, const std::string& title);
  void SetPWaveFormat(const WAVEFORMATEX* pwfx);
  void SetPWaveFilter(const TWaveFilter* filter);
  const WAVEFORMATEX* GetPWaveFormat() const;
  const TWaveFilter* GetPWaveFilter() const;
  bool GetFormatDescription(std::string& name, std::string& description) const;
  bool GetFilterDescription(std::string& name, std::string& description) const;
  bool QueryConvert(const WAVEFORMATEX* pwfx, const TWaveFilter* filter) const;
  // A new empty wave file of the buffer's format.
  bool CreateFile(const std::string& name);
  bool ConvertFile(const std::string& name);
  bool FilterFile(const std::string& name);
  // The whole Source file converted (format nil: its own) and filtered into `name`.
  void ProcessFile(const std::string& name, const WAVEFORMATEX* pwfx, const TWaveFilter* filter);

 private:
  bool present_ = false;
  uint32_t version_ = 0;
  int32_t drivers_ = 0, codecs_ = 0, converters_ = 0, filters_ = 0;
  uint32_t max_format_ = 0, max_filter_ = 0;
  std::vector<uint8_t> format_;
  std::vector<uint8_t> filter_;
};
