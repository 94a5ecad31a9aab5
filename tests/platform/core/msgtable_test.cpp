#include "msgtable.h"

#include <gtest/gtest.h>

TEST(MsgTable, BlocksAndExactTexts) {
  const std::pair<int, int> blocks[] = {{28001, 28013}, {28020, 28025}, {28030, 28033},
                                        {28040, 28040}, {28050, 28051}, {28060, 28090},
                                        {28100, 28124}, {28130, 28148}, {28160, 28163},
                                        {28170, 28172}, {28190, 28196}};
  std::vector<int> want;
  for (auto [first, last] : blocks)
    for (int id = first; id <= last; ++id) want.push_back(id);
  EXPECT_EQ(vant::LibraryMessageIds(), want);
  EXPECT_EQ(want.size(), 115u);
  for (int id : want) EXPECT_STRNE(vant::LibraryMessage(id), "") << id;

  const std::pair<int, const char*> texts[] = {
      {28001, "Open Wave File"},
      {28040, "Unable to load"},
      {28060, "Change to property while device was open"},
      {28070, "The actual device can't play this format"},
      {28079, "Unabele to restart device"},
      {28088, "Could not create thread"},
      {28103, "Invalid Index "},
      {28105, "Could not create \"%s\""},
      {28111, "File \"%s\" not found"},
      {28148, "Can't write to file, disk full ?"},
      {28022,
       "This application requires Version 2.00 or greater of the Audio Compression Manager "
       "(ACM). The version installed on this system is Version %u.%.02u. Most features of this "
       "application will not be available."},
      {28196, "Position"},
      {28000, ""},
      {28014, ""},
      {28197, ""},
  };
  for (auto [id, text] : texts) EXPECT_STREQ(vant::LibraryMessage(id), text) << id;
}
