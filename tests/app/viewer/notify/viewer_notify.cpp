// Sends a window a folder as the converter does after a save:  viewer_notify <title> <folder>
// Exit code 0 when the window handled it.
#include <cstdio>

#include "windowlink.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  auto window = vant::ipc::FindWindowByTitle(argv[1]);
  if (!window) return 3;
  return vant::ipc::SendCopyData(*window, argv[2]) == vant::ipc::SendResult::kDelivered ? 0 : 4;
}
