#pragma once
// The single-instance guard of both programs. A marker file in the per-user folder stands for the
// desktop-wide named marker of the original design: added by the first instance, found by a
// second, deleted at a normal end, and left behind by a crash, so the next start can tell the
// user that the program may have ended abnormally.
#include <functional>
#include <optional>
#include <string>

namespace vant::ipc {

// The start-up messages, shown in plain information boxes.
inline constexpr const char* kMsgAlreadyRunning = "アプリケーションは既に起動しています。";
inline constexpr const char* kMsgAbnormalEnd =
    "アプリケーションが不正に終了した可能性があります。再起動してください。";
inline constexpr const char* kMsgCannotStart = "プログラムを起動することができません。";

// The running executable's file name without its folder: the marker's name.
std::string ExecutableName();

// `name` is the executable's file name; '/' cannot occur in it and is replaced if it does.
bool InstanceMarkerExists(const std::string& name);
// Creates the marker; an existing one counts as added. False when it cannot be made.
bool AddInstanceMarker(const std::string& name);
void DeleteInstanceMarker(const std::string& name);

struct GuardUi {
  std::function<void(const std::string& utf8_message)> show_message;
  // True when Shift or Ctrl is held: start another instance anyway.
  std::function<bool()> override_held;
};

// The guard's steps at program start: the marker found with a window titled `window_title`
// shows kMsgAlreadyRunning, brings that window forward and ends (exit code 0) unless the
// override is held, which deletes the marker and goes on; the marker found without such a window
// shows kMsgAbnormalEnd and goes on; no marker adds it, and when that fails shows
// kMsgCannotStart and ends with -1. Returns the exit code when the program must end now.
std::optional<int> EnterInstanceGuard(const std::string& name, const std::string& window_title,
                                      const GuardUi& ui);
// At the end of a run.
inline void LeaveInstanceGuard(const std::string& name) { DeleteInstanceMarker(name); }

}  // namespace vant::ipc
