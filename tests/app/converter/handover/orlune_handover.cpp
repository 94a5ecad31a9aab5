// Hands a file to a running converter as the disc viewer does:  orlune_handover <file>
// Exit code 0 when the converter's window took it, 3 when there is no such window.
#include "bwfmessage.h"
#include "windowlink.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string title = ConverterTitle(ecAdAgency);
  if (!vant::ipc::FindWindowByTitle(title)) return 3;
  // The window is there, so the program is never started.
  return OpenWithApplication("/bin/false", argv[1], title) ? 0 : 4;
}
