#pragma once
// The receiving end of a program's main window: listens on the socket of its title while the
// title is set, and hands each message to the owner on the GUI thread (the thread that created
// it, which runs the Qt event loop), then answers the sender. Copy-data payloads are checked
// (IsValidPathPayload) before the owner sees them; a refused one is answered as refused.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vant::ipc {

class WindowEndpoint {
 public:
  explicit WindowEndpoint(std::string title = {});
  ~WindowEndpoint();
  WindowEndpoint(const WindowEndpoint&) = delete;
  WindowEndpoint& operator=(const WindowEndpoint&) = delete;

  // Listens under the new title (an empty title does not listen). False when the socket cannot
  // be made; the window is then not found by others.
  bool SetTitle(std::string title);
  const std::string& GetTitle() const;
  // The socket listened on, empty when not listening.
  std::filesystem::path GetSocket() const;

  // A folder or file path (native bytes) sent by another program.
  std::function<void(const std::string& path)> OnCopyData;
  // Restore the window and bring it to the foreground.
  std::function<void()> OnActivate;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vant::ipc
