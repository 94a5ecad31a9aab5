// The listing CSV written over an earlier listing and to a new name, replayed through a power cut
// at every point: the old listing or the new one is there, whole.
#include <gtest/gtest.h>

#include <fstream>

#include "molisting.h"
#include "powercut.h"
#include "scratchfolder.h"

namespace fs = std::filesystem;
using vant::testing::DiskBytes;

TEST(ViewerListingPowerCut, TheOldListingOrTheNewOne) {
  for (bool existing : {true, false}) {
    SCOPED_TRACE(existing);
    vant::testing::ScratchFolder dir("vant-cut");
    const fs::path target = dir.path() / "list.csv";
    std::optional<DiskBytes> before;
    if (existing) {
      before = DiskBytes{'o', 'l', 'd', '\r', '\n'};
      std::ofstream(target, std::ios::binary).write("old\r\n", 5);
    }
    vant::testing::PowerCutRecorder recorder(dir.path());
    ASSERT_TRUE(viewer::WriteCsvFile(target, {"MO:,DISC1", "01,a.wav", "02,b.wav"}));
    std::ifstream in(target, std::ios::binary);
    const DiskBytes after(std::istreambuf_iterator<char>(in), {});
    const auto faults = vant::testing::Prove(recorder, vant::testing::TargetNames(target),
                                             vant::testing::ReplacedWhole(target, before, after));
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
  }
}
