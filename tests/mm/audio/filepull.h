#pragma once
// Plays a whole file through an audio file (reader -> ADPCM stage -> PCM stage -> audio file)
// as a device would pull it, and gives every byte delivered, the end's silence block included.
#include <cstdint>
#include <string>
#include <vector>

#include "mmaudiofile.h"

inline std::vector<uint8_t> PullWholeFile(TMMAudioFile& file, const std::string& name,
                                          bool softwareVolume) {
  file.SetFileName(name);
  if (file.GetEmpty()) return {};
  file.SetSoftwareVolume(softwareVolume);
  file.OpenFile(16000);
  file.StartFile();
  std::vector<uint8_t> got, buf(16000);
  bool more = true;
  for (int32_t n; (n = file.ReadFileData(buf.data(), 16000, more)) > 0;) {
    got.insert(got.end(), buf.begin(), buf.begin() + n);
  }
  file.StopFile();
  file.CloseFile();
  return got;
}
