#include "moeject.h"

#include <cerrno>

namespace viewer {

using vant::volume::DriveType;
using vant::volume::VolumeHandle;
using vant::volume::VolumeResult;

namespace {

void PrintError(const EjectPrint& print, const VolumeResult& r, const char* what) {
  print("Error " + std::to_string(r.error) + ": " + what +
        (r.text.empty() ? std::string() : " (" + r.text + ")") + "\n");
}

EjectStatus CauseOf(const VolumeResult& r) {
  switch (r.error) {
    case EBUSY:
      return EjectStatus::Busy;
    case EPERM:
    case EACCES:
      return EjectStatus::NotAllowed;
    case ENOSYS:
      return EjectStatus::NoService;
    default:
      return EjectStatus::Failed;
  }
}

}  // namespace

EjectOutcome EjectVolume(vant::volume::VolumeControl& volumes, const std::filesystem::path& root,
                         const EjectDelay& delay, const EjectPrint& print) {
  const DriveType type = volumes.GetDriveType(root);
  if (type != DriveType::Removable && type != DriveType::CdRom) {
    print("Cannot eject.  Drive type is incorrect.\n");
    return {EjectStatus::WrongDrive, EjectStep::Open, EINVAL};
  }
  VolumeHandle volume;
  if (VolumeResult r = volumes.Open(root, volume); !r) {
    PrintError(print, r, "Open");
    return {CauseOf(r), EjectStep::Open, r.error};
  }
  VolumeResult unmounted;
  for (int attempt = 1; attempt <= kUnmountAttempts; ++attempt) {
    unmounted = volumes.Unmount(volume);
    if (unmounted || CauseOf(unmounted) != EjectStatus::Busy || attempt == kUnmountAttempts) break;
    delay(kUnmountPause);
  }
  if (!unmounted) {
    PrintError(print, unmounted, "Unmount");
    return {CauseOf(unmounted), EjectStep::Unmount, unmounted.error};
  }
  // A medium left in the drive after its file system is gone is not "taken out": report it, as
  // what it is: nothing holds the disc any more.
  if (VolumeResult r = volumes.Eject(volume); !r) {
    PrintError(print, r, "Eject");
    const EjectStatus cause = CauseOf(r);
    const bool user = cause == EjectStatus::NotAllowed || cause == EjectStatus::NoService;
    return {user ? cause : EjectStatus::DriveCannotEject, EjectStep::Eject, r.error};
  }
  return {EjectStatus::Ejected};
}

std::string EjectCause(const EjectOutcome& out) {
  const EjectStatus cause = CauseOf({false, out.error, {}});
  switch (out.step) {
    case EjectStep::Open:
      return "ドライブを開くことができませんでした";
    case EjectStep::Unmount:
      if (cause == EjectStatus::NoService)
        return "udisks2 が動作していないため、管理者のほかはディスクの使用を終了できません";
      if (cause == EjectStatus::NotAllowed) return "ディスクの使用の終了が許可されませんでした";
      return "ディスクの使用を終了できませんでした";
    case EjectStep::Eject:
      if (cause == EjectStatus::NoService)
        return "udisks2 が動作していないため、管理者のほかはディスクを取り出せません";
      if (cause == EjectStatus::NotAllowed) return "ディスクの取り出しが許可されませんでした";
      return "ドライブが取り出しの命令を受け付けませんでした";
    case EjectStep::None:
      break;
  }
  return {};
}

}  // namespace viewer
