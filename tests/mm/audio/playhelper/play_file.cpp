// play_file <wave>: plays the file through the player on the process's default backend until it
// stops by itself, in a process of its own that a test can stop and continue. Exits 0 when the
// player stopped once, 1 otherwise, 2 when used wrongly.
#include <cstdio>

#include "playfile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: play_file <wave file>\n");
    return 2;
  }
  return vant::PlayUntilStopped(argv[1], false, {}, false, nullptr) == 1 ? 0 : 1;
}
