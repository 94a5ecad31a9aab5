#pragma once
// The wire form of a message between the programs' windows: one frame per connection,
// {magic "VCD1", kind (32 bit LE), length (32 bit LE), bytes}, answered by one byte: 1 when the
// receiver handled it, 0 when it refused it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vant::ipc {

enum class MessageKind : uint32_t {
  kCopyData = 1,  // a folder or a file path
  kActivate = 2,  // restore the window and bring it to the foreground; no bytes
};

constexpr size_t kFrameHeaderSize = 12;
// The longest path a message carries (PATH_MAX); longer texts are refused, never cut.
constexpr size_t kMaxPayload = 4096;
constexpr char kAckHandled = 1;
constexpr char kAckRefused = 0;

std::string EncodeFrame(MessageKind kind, std::string_view bytes);

struct FrameHeader {
  uint32_t kind;
  uint32_t length;
};
// The header at the start of `data`, or nullopt when the magic is wrong or the length exceeds
// kMaxPayload (the connection is then answered with a refusal and closed).
std::optional<FrameHeader> DecodeFrameHeader(std::string_view data);

// A copy-data payload a receiver accepts: an absolute path, no NUL byte, at most kMaxPayload.
bool IsValidPathPayload(std::string_view bytes);

}  // namespace vant::ipc
