#pragma once
// Finding another program's main window by its title and sending it a message. A window is a
// socket in the per-user folder named after its title (case of Latin letters folded, as titles
// compare); several windows may share a title and the newest answers first. The sender waits a
// bounded time for the receiver's answer, so a hung program never hangs this one.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ipcframe.h"

namespace vant::ipc {

// A found window: the socket it listens on. Cheap to copy; may go stale when the program ends.
struct WindowRef {
  std::filesystem::path socket;
  bool operator==(const WindowRef&) const = default;
};

enum class SendResult {
  kDelivered,   // the receiver handled it
  kRefused,     // the receiver (or this side's check) rejected the payload
  kNoReceiver,  // nobody listens there any more
  kTimeout,     // no answer within the bound; the message may still be handled once
  kFailed,      // the connection broke or the folder is unusable
};

constexpr std::chrono::milliseconds kSendBound{5000};

// The socket prefix of a title: "w" and a 64-bit hash of the title with A-Z folded to a-z.
std::string TitleKey(std::string_view title);

// The newest live window with the title (Latin letters compared ignoring case), or nullopt.
// An empty title finds nothing. Sockets left by programs that died are removed on the way.
std::optional<WindowRef> FindWindowByTitle(std::string_view title);

// True when the window still answers.
bool IsWindow(const WindowRef& window);

// Sends a path (see IsValidPathPayload); an invalid one is refused without being sent.
SendResult SendCopyData(const WindowRef& window, std::string_view path,
                        std::chrono::milliseconds bound = kSendBound);
// Asks the window to restore itself and come to the foreground.
SendResult ActivateWindow(const WindowRef& window, std::chrono::milliseconds bound = kSendBound);
// Sends one frame as it is, unchecked (the receiver checks again).
SendResult SendFrame(const WindowRef& window, MessageKind kind, std::string_view bytes,
                     std::chrono::milliseconds bound);

// Receivers of this process register here, so that a message to a window of the same thread is
// handled at once instead of waiting for a loop that the sender itself is blocking.
using LocalReceiver = std::function<char(MessageKind kind, std::string_view bytes)>;
void RegisterLocalReceiver(const std::filesystem::path& socket, LocalReceiver receiver);
void UnregisterLocalReceiver(const std::filesystem::path& socket);

}  // namespace vant::ipc
