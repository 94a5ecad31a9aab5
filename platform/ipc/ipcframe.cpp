#include "ipcframe.h"

namespace vant::ipc {
namespace {

constexpr std::string_view kMagic = "VCD1";

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t GetU32(std::string_view in) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[i]);
  return v;
}

}  // namespace

std::string EncodeFrame(MessageKind kind, std::string_view bytes) {
  std::string out(kMagic);
  PutU32(out, static_cast<uint32_t>(kind));
  PutU32(out, static_cast<uint32_t>(bytes.size()));
  out.append(bytes);
  return out;
}

std::optional<FrameHeader> DecodeFrameHeader(std::string_view data) {
  if (data.size() < kFrameHeaderSize || data.substr(0, 4) != kMagic) return std::nullopt;
  FrameHeader h{GetU32(data.substr(4)), GetU32(data.substr(8))};
  if (h.length > kMaxPayload) return std::nullopt;
  return h;
}

bool IsValidPathPayload(std::string_view bytes) {
  return !bytes.empty() && bytes.size() <= kMaxPayload && bytes[0] == '/' &&
         bytes.find('\0') == std::string_view::npos;
}

}  // namespace vant::ipc
