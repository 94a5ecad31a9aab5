#pragma once
// The media library's message table: the texts its exceptions, dialogs and player show, by
// number (28001-28196 in blocks; numbers between the blocks have no entry).
#include <string>
#include <vector>

namespace vant {

constexpr int kLibraryMessageBase = 28000;

// The text of entry `id` (28000 + n), or "" when there is none.
const char* LibraryMessage(int id);
// Every entry number, ascending.
std::vector<int> LibraryMessageIds();

}  // namespace vant
