#pragma once
// Audio file readers and their registry. A reader is a chain component that reads one kind of
// audio file and delivers its data from its Output; the audio file component asks the registry
// which reader class accepts a name and creates that one. TMMBaseAudioFile is the base of every
// component that plays a file by name (the audio file, the audio player).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exceptions.h"
#include "mmdspcomponent.h"

enum TMMAudioFileType { ftNone, ftWave, ftMpeg, ftWMA, ftVorbis, ftCDA };
enum TMMDecryptMode { dmAll, dmFrames };

VANT_DECLARE_EXCEPTION(EMMAudioError, vant::Exception);

// Decrypts a block of an encrypted stream in place with the caller's value. Only compressed
// stream readers would take one; no reader here does.
using TMMDecryptProc = std::function<void(void* data, int32_t size, int32_t value)>;

struct TTAGInfo {
  std::string Title;  // the wave reader: the file name without its folder
  std::string Artist;
  std::string Album;
  std::string Year;
  std::string Comment;
  int32_t Track = 0;
  std::string Genre;
  int32_t GenreIndex = 0;
};

struct TMMAudioFileInfo {
  bool Valid = false;
  int32_t Length = 0;  // milliseconds
  // Stream details of compressed readers; the wave reader leaves them 0.
  int32_t Bitrate = 0;
  int32_t SampleRate = 0;
  int32_t Channels = 0;
  int32_t Frames = 0;
  TTAGInfo TagInfo;
};

// The reader interface. The class operations (IsValidFile, GetFileInfoEx, GetFilter,
// GetExtensions) are static: each reader hides them with its own, and FileClassOf<Reader>
// hands them to the registry.
class TMMCustomFile : public TMMDSPComponent {
 public:
  explicit TMMCustomFile(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMCustomFile"; }

  static bool IsValidFile(const std::string& name, const TMMDecryptProc& decrypt,
                          int32_t decrypt_value, TMMDecryptMode mode);
  static bool GetFileInfoEx(const std::string& name, TMMAudioFileInfo& info, bool flag,
                            const TMMDecryptProc& decrypt, int32_t decrypt_value,
                            TMMDecryptMode mode);
  // "Description(*.ext)|*.ext"
  static std::string GetFilter();
  static std::string GetExtensions();

  virtual int32_t GetOptimalReadSize() = 0;
  virtual bool GetEmpty() = 0;
  virtual int32_t GetPlayTime() = 0;  // milliseconds
  virtual std::string GetFileName() = 0;
  virtual void SetFileName(const std::string& name) = 0;
  virtual bool GetEnabled() { return enabled_; }
  virtual void SetEnabled(bool value) { enabled_ = value; }
  virtual int64_t GetPosition() = 0;  // bytes
  virtual void SetPosition(int64_t bytes) = 0;
  virtual int32_t GetPositionMs() = 0;
  virtual void SetPositionMs(int32_t ms) = 0;
  virtual void SetLongint(int32_t) {}
  // From the held format; 0 without one.
  virtual int32_t GetSampleRate();
  virtual int32_t GetChannels();
  virtual int32_t GetBitrate() { return 0; }
  virtual void AbortReading() {}

  // Hooks of compressed stream readers (ftMpeg); the base raises EAbstractError.
  virtual void SetTrailingHeader(bool value);
  virtual bool GetTrailingHeader();
  virtual void SetDecryptCallback(const TMMDecryptProc& decrypt, int32_t value);
  virtual void SetDecryptMode(TMMDecryptMode mode);
  virtual bool ScanFile();
  virtual bool ScanFileEx(bool fast);
  virtual bool EncryptFile(const std::string& target);
  virtual bool ReadID3Tag(TTAGInfo& info);

  TMMAudioFileType GetFileType() const { return file_type_; }

  vant::TNotifyEvent OnChange;
  vant::TNotifyEvent OnChanged;

 protected:
  void SetFileType(TMMAudioFileType type) { file_type_ = type; }

 private:
  bool enabled_ = true;
  TMMAudioFileType file_type_ = ftNone;
};

// A reader class as the registry keeps it.
struct TMMCustomFileClass {
  std::string ClassName;
  // A new reader owned by `owner`.
  std::function<TMMCustomFile*(vant::TComponent* owner)> Create;
  std::function<bool(const std::string&, const TMMDecryptProc&, int32_t, TMMDecryptMode)>
      IsValidFile;
  std::function<bool(const std::string&, TMMAudioFileInfo&, bool, const TMMDecryptProc&, int32_t,
                     TMMDecryptMode)>
      GetFileInfoEx;
  std::function<std::string()> GetFilter;
  std::function<std::string()> GetExtensions;
};

template <class Reader>
TMMCustomFileClass FileClassOf(const std::string& class_name) {
  return TMMCustomFileClass{class_name,
                            [](vant::TComponent* owner) -> TMMCustomFile* { return new Reader(owner); },
                            &Reader::IsValidFile,
                            &Reader::GetFileInfoEx,
                            &Reader::GetFilter,
                            &Reader::GetExtensions};
}

struct TMMAudioFileRegistration {
  TMMCustomFileClass FileClass;
  int32_t Priority;
};

// Adds a reader class; a class name already listed is ignored. The list runs by ascending
// priority, equal priorities in registration order. The programs register their readers once
// at start-up (RegisterAudioFileReaders).
void DoRegisterCustomAudioFile(const TMMCustomFileClass& file_class, int32_t priority);
// The readers in the order they are asked.
const std::vector<TMMAudioFileRegistration>& GetRegisteredAudioFiles();
// Forgets every reader class (the end of the program, and tests).
void DoneRegisteredAudioFiles();

// The readers' filters joined with "|"; with `all_entry` and more than one reader, led by
// "All Audio Files (E)|E|" where E are the extensions of all of them.
std::string GetRegisteredAudioFilters(bool all_entry);
// The pattern fields (every second field) of a "description|pattern|..." filter, each once,
// joined with ";".
std::string ExtractExtensions(const std::string& filter);
// Whether the name's extension is one of the registered patterns' extensions (whole ones).
bool IsFileSupported(const std::string& name);
// False for an empty name or a file that does not exist; else whether a reader accepts it.
bool IsValidAudioFileEx(const std::string& name, const TMMDecryptProc& decrypt,
                        int32_t decrypt_value, TMMDecryptMode mode);
bool IsValidAudioFile(const std::string& name);
// The first reader that accepts the file fills the record; false when none does.
bool GetAudioFileInfo(const std::string& name, TMMAudioFileInfo& info);
bool GetAudioFileInfoEx(const std::string& name, TMMAudioFileInfo& info, bool flag);
bool GetAudioFileInfoExx(const std::string& name, TMMAudioFileInfo& info, bool flag,
                         const TMMDecryptProc& decrypt, int32_t decrypt_value, TMMDecryptMode mode);
// The reader class that accepts the name (first in list order), or nullptr.
const TMMCustomFileClass* FindAudioFileClass(const std::string& name, const TMMDecryptProc& decrypt,
                                             int32_t decrypt_value, TMMDecryptMode mode);

// Base of the components that play a file by name.
class TMMBaseAudioFile : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
  std::string ClassName() const override { return "TMMBaseAudioFile"; }
  virtual void SetFileName(const std::string& name) = 0;
  virtual std::string GetFileName() = 0;
  virtual std::string GetFilters() = 0;
};
