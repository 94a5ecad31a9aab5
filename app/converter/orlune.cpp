// Orlune, the converter: opens a VANT or WAV file, shows and edits its commercial data, plays it
// and saves it as a VANT file.
#include "orlunestart.h"

int main(int argc, char** argv) {
  return OrluneMain(std::vector<std::string>(argv + 1, argv + argc));
}
