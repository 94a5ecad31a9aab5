#include "moeject.h"

namespace viewer {

using vant::volume::DriveType;
using vant::volume::VolumeHandle;
using vant::volume::VolumeResult;

namespace {

void PrintError(const EjectPrint& print, const VolumeResult& r, const char* what) {
  print("Error " + std::to_string(r.error) + ": " + what +
        (r.text.empty() ? std::string() : " (" + r.text + ")") + "\n");
}

}  // namespace

bool EjectVolume(vant::volume::VolumeControl& volumes, const std::filesystem::path& root,
                 const EjectDelay& delay, const EjectPrint& print) {
  const DriveType type = volumes.GetDriveType(root);
  if (type != DriveType::Removable && type != DriveType::CdRom) {
    print("Cannot eject.  Drive type is incorrect.\n");
    return false;
  }
  VolumeHandle volume;
  if (VolumeResult r = volumes.Open(root, volume); !r) {
    PrintError(print, r, "Open");
    return false;
  }
  VolumeResult unmounted;
  for (int attempt = 1; attempt <= kUnmountAttempts; ++attempt) {
    unmounted = volumes.Unmount(volume);
    if (unmounted || attempt == kUnmountAttempts) break;
    delay(kUnmountPause);
  }
  if (!unmounted) {
    PrintError(print, unmounted, "Unmount");
    return false;
  }
  // A medium left in the drive after its file system is gone is not "taken out": report it.
  if (VolumeResult r = volumes.Eject(volume); !r) {
    PrintError(print, r, "Eject");
    return false;
  }
  return true;
}

}  // namespace viewer
