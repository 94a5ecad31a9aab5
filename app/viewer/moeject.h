#pragma once
// Taking a removable disc out of its drive: open the volume, unmount it (while it is busy, 20
// attempts 500 ms apart, since a program that just closed a file may hold the volume for a
// moment), then release and eject the medium. Each failing step prints its line to standard output, as the routines always
// did; the caller shows the user's message.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "volumes.h"

namespace viewer {

inline constexpr int kUnmountAttempts = 20;
inline constexpr std::chrono::milliseconds kUnmountPause{500};

// Waits between two unmount attempts; the program lets its message loop run meanwhile.
using EjectDelay = std::function<void(std::chrono::milliseconds)>;
// Receives the printed lines (each ending with "\n").
using EjectPrint = std::function<void(const std::string&)>;

// How a removal ended. Only a busy volume is tried again: the other causes cannot pass by waiting.
enum class EjectStatus {
  Ejected,
  WrongDrive,        // not a removable or CD drive
  Busy,              // another program still holds the volume
  NoService,         // nothing on this machine can unmount it for this user
  NotAllowed,        // this user may not
  DriveCannotEject,  // unmounted, but the drive did not put the medium out
  Failed,            // any other cause
};

// The step that failed.
enum class EjectStep { None, Open, Unmount, Eject };

struct EjectOutcome {
  EjectStatus status = EjectStatus::Failed;
  EjectStep step = EjectStep::None;
  int error = 0;  // the system's error number of the failing step
  explicit operator bool() const { return status == EjectStatus::Ejected; }
};

// The cause of a failed step in the user's words (Japanese, UTF-8); empty where there is none to
// add. The system's own text goes to the printed lines only.
std::string EjectCause(const EjectOutcome& out);

// Ejected only when the volume was unmounted and the medium released and ejected.
EjectOutcome EjectVolume(vant::volume::VolumeControl& volumes, const std::filesystem::path& root,
                         const EjectDelay& delay, const EjectPrint& print);

}  // namespace viewer
