// The viewer's data without windows: listing order and filters, the change and settle checks,
// the length colour rule, the listing CSV bytes and the eject routine's attempts.
#include "molisting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "fakevolumes.h"
#include "moeject.h"
#include "scratchfolder.h"
#include "viewerfiles.h"

namespace {

namespace fs = std::filesystem;
using vant::testing::FakeVolumes;
using vant::testing::ScratchFolder;
using vant::volume::DriveType;
using viewertest::Cm;
using viewertest::WriteCm;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Names(const viewer::Listing& l) {
  std::vector<std::string> out;
  for (const auto& e : l) out.push_back(e.path.filename().string());
  return out;
}

TEST(ViewerListing, FileTypesByExtensionIgnoringCase) {
  const std::pair<const char*, int> cases[] = {
      {"a.wav", 1}, {"A.WAV", 1}, {"x.Bwf", 2}, {"a.wave", 0}, {"wav", 0}, {"a.csv", 0}, {"", 0}};
  for (auto [name, type] : cases) EXPECT_EQ(viewer::FileTypeOf(name), type) << name;
}

TEST(ViewerListing, ListsWaveFilesInNameOrderWithoutRegardToCase) {
  ScratchFolder dir;
  for (const char* n : {"b.WAV", "A.wav", "c.bwf", "note.txt", "a2.Wav"}) WriteCm(dir.path() / n);
  fs::create_directory(dir.path() / "sub.wav");  // a folder is never listed
  EXPECT_EQ(Names(viewer::ListWaveFiles(dir.path())),
            (std::vector<std::string>{"A.wav", "a2.Wav", "b.WAV", "c.bwf"}));
  EXPECT_TRUE(viewer::ListWaveFiles(dir.path() / "missing").empty());
}

TEST(ViewerListing, ScanKeepsOnly48kHzPcmAndTakesTheFirstKeptAdvertiser) {
  ScratchFolder dir;
  WriteCm(dir.path() / "a.wav", {.rate = 44100, .client = "LOST"});
  WriteCm(dir.path() / "b.bwf", {.client = "KEPT"});
  WriteCm(dir.path() / "c.wav", {.tag = 3, .client = "FLOAT"});
  WriteCm(dir.path() / "d.wav", {.client = "SECOND"});
  std::ofstream(dir.path() / "e.wav") << "not a riff file";
  viewer::ScanResult r = viewer::ScanModels(dir.path());
  ASSERT_EQ(r.models.size(), 2u);
  EXPECT_EQ(r.models[0]->GetPath().filename(), "b.bwf");
  EXPECT_EQ(r.models[1]->GetPath().filename(), "d.wav");
  EXPECT_EQ(r.advertiser, "KEPT");
  EXPECT_EQ(r.listing.size(), 5u);  // the watch compares every listed file, kept or not
  // The kept models hold no file open, or the disc could not be taken out.
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = fs::read_symlink(fd.path(), ec).string();
    EXPECT_NE(target.rfind(dir.path().string(), 0), 0u) << target;
  }
}

TEST(ViewerListing, ScanHoldsMoreThan256Files) {
  ScratchFolder dir;
  const vb::Bytes bytes = viewertest::CmBytes({});
  for (int i = 0; i < 300; ++i)
    viewertest::WriteBytes(dir.path() / ("f" + std::to_string(1000 + i) + ".wav"), bytes);
  viewer::ScanResult r = viewer::ScanModels(dir.path());
  ASSERT_EQ(r.models.size(), 300u);
  EXPECT_EQ(r.models[299]->GetPath().filename(), "f1299.wav");
}

TEST(ViewerListing, ChangeNeedsAnotherCountOrAFirstDifferingFileAbove2906Bytes) {
  ScratchFolder dir;
  const fs::path small = dir.path() / "a.wav", big = dir.path() / "b.wav";
  std::ofstream(small) << std::string(2906, 'x');
  std::ofstream(big) << std::string(2907, 'x');
  viewer::Listing now = viewer::ListWaveFiles(dir.path());
  viewer::Listing before = now;
  EXPECT_FALSE(viewer::ListingChanged(before, now));
  before[0].size = 1;  // the small file differs first: still a header being written
  before[1].size = 1;
  EXPECT_FALSE(viewer::ListingChanged(before, now));
  before[0] = now[0];  // now the big one differs first
  EXPECT_TRUE(viewer::ListingChanged(before, now));
  before.pop_back();
  EXPECT_TRUE(viewer::ListingChanged(before, now));
}

TEST(ViewerListing, AFileIsSettledOnlyWhenThePollBeforeSawItTheSame) {
  viewer::Listing previous = {{"/d/a.wav", 1, 100}};
  EXPECT_TRUE(viewer::ListingSettled(previous, {{"/d/A.WAV", 1, 100}}));
  EXPECT_TRUE(viewer::ListingSettled(previous, {}));  // a removal settles at once
  EXPECT_FALSE(viewer::ListingSettled(previous, {{"/d/a.wav", 1, 200}}));
  EXPECT_FALSE(viewer::ListingSettled(previous, {{"/d/a.wav", 2, 100}}));
  EXPECT_FALSE(viewer::ListingSettled(previous, {{"/d/a.wav", 1, 100}, {"/d/b.wav", 1, 9}}));
}

TEST(ViewerListing, AYoungFileWaitsOnlyWhileItsHeaderPromisesMore) {
  ScratchFolder dir;
  struct Case {
    const char* name;
    uint32_t stated;  // the RIFF size in the header
    size_t bytes;     // what the file holds
    bool whole;
  } cases[] = {
      {"whole", 92, 100, true},
      {"copying", 10000, 100, false},
      {"pipe", 0xFFFFFFFFu, 100, true},       // an unknown length promises nothing
      {"reversed", 0xC0000000u, 200, true},   // 192 stored big-endian
      {"other", 0, 4, true},                  // too short to be a wave: the scan judges it
  };
  const int64_t now = 1'000'000'000'000'000'000;
  for (const Case& c : cases) {
    const fs::path p = dir.path() / (std::string(c.name) + ".wav");
    std::string bytes(c.bytes, '\0');
    if (c.bytes >= 8) {
      bytes.replace(0, 4, "RIFF");
      for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(c.stated >> (8 * i));
    }
    std::ofstream(p, std::ios::binary) << bytes;
    const viewer::ListingEntry young{p, now, c.bytes};
    EXPECT_EQ(viewer::WholeOrStill(young, now), c.whole) << c.name;
    const viewer::ListingEntry old{p, now - 31'000'000'000, c.bytes};
    EXPECT_TRUE(viewer::WholeOrStill(old, now)) << c.name;  // stood still 30 s: listed
  }
}

TEST(ViewerListing, LengthIsRedWhenMoreThan4MillisecondsOff) {
  struct Case {
    uint32_t samples;
    const char* stated;
    bool red;
  } cases[] = {
      {1439808, "30", false},  // 29.996 s
      {1439760, "30", true},   // 29.995 s
      {1440192, "30", false},  // 30.004 s
      {1440240, "30", true},   // 30.005 s
      {48240, "1", true},      // 1.005 s, which is a hair below 1005 ms in binary
      {1440000, "30.000", false},
      {1440000, " 30 ", false},
      {1440000, "３０", true},  // not a number: stated 0
      {0, "", false},
  };
  ScratchFolder dir;
  for (const Case& c : cases) {
    WriteCm(dir.path() / "x.wav", {.length = c.stated, .lengthSamples = c.samples});
    TBWFChunck m(dir.path() / "x.wav", TBWFChunck::kReopenPerRead);
    ReadModelInOrder(m);
    EXPECT_EQ(viewer::TextsOf(m).lengthRed, c.red) << c.samples << " / " << c.stated;
  }
}

TEST(ViewerListing, ListingCsvOfTwoFilesIsFixedCp932WithCrLf) {
  ScratchFolder dir;
  WriteCm(dir.path() / "A.wav", {.channels = 1,
                                 .title = vb::kSjisTitle,
                                 .client = "ACME",
                                 .itemNumber = "ITEM1",
                                 .commonCode = "CC-1",
                                 .limitation = "LIM",
                                 .comment = "c",
                                 .attachment = true});
  WriteCm(dir.path() / "b.wav", {.title = "B TITLE", .length = "15"});
  viewer::ScanResult r = viewer::ScanModels(dir.path());
  const fs::path out = dir.path() / "list.csv";
  ASSERT_TRUE(viewer::WriteCsvFile(out, viewer::ListingCsvLines("DISC1", r.advertiser, r.models)));
  const std::string expected =
      "MO:,DISC1,\x8DL\x8D\x90\x8E\xE5:,ACME\r\n"
      "No.:,\x83t\x83@\x83"
      "C\x83\x8B\x96\xBC:,\x83^\x83"
      "C\x83g\x83\x8B:,\x95"
      "b\x90\x94:,S/M:,\x91"
      "f\x8D\xDE\x97\xAA\x8D\x86:,\x8B\xA4\x92\xCA\x83R\x81[\x83h:,"
      "\x8A\xE9\x89\xE6\xA5\x90\xA7\x8D\xEC\x8E\xD0\x93\xE0\x91"
      "f\x8D\xDE\x94\xD4\x8D\x86:,\x95\xFA\x91\x97\x8B\xC7\x83R\x81[\x83h:,"
      "CM\x97L\x8C\xF8\x8A\xFA\x8A\xD4:,\x93Y\x95t:,\x83R\x83\x81\x83\x93\x83g:\r\n"
      "01,A.wav,\x83"
      "e\x83X\x83g,30,MOMO,ITEM1,CC-1,,,LIM,\x81\x9C,\x81\x9C\r\n"
      "02,b.wav,\"B TITLE\",15,STEREO,,,,,,,\r\n";
  EXPECT_EQ(ReadAll(out), expected);
}

TEST(ViewerListing, CsvWriteFailureIsReportedAndLeavesNothing) {
  ScratchFolder dir;
  EXPECT_FALSE(viewer::WriteCsvFile(dir.path() / "missing" / "list.csv", {"a"}));
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
  // A write-protected list is not replaced, whoever runs the viewer.
  const fs::path kept = dir.path() / "kept.csv";
  std::ofstream(kept) << "old";
  chmod(kept.c_str(), 0444);
  EXPECT_FALSE(viewer::WriteCsvFile(kept, {"a"}));
  EXPECT_EQ(ReadAll(kept), "old");
}

struct EjectRun {
  FakeVolumes volumes;
  std::vector<long> delays;
  std::string printed;
  viewer::EjectOutcome Eject(const fs::path& root) {
    return viewer::EjectVolume(
        volumes, root, [&](std::chrono::milliseconds ms) { delays.push_back(ms.count()); },
        [&](const std::string& s) { printed += s; });
  }
};

TEST(ViewerEject, UnmountIsTriedUpTo20Times500msApart) {
  ScratchFolder dir;
  {
    EjectRun run;
    run.volumes.Add(dir.path(), DriveType::Removable);
    run.volumes.unmount_failures = 3;
    EXPECT_TRUE(run.Eject(dir.path()));
    EXPECT_EQ(run.delays, (std::vector<long>{500, 500, 500}));
    EXPECT_EQ(run.volumes.eject_calls, 1);
  }
  {
    EjectRun run;
    run.volumes.Add(dir.path(), DriveType::Removable);
    run.volumes.unmount_failures = -1;
    EXPECT_FALSE(run.Eject(dir.path()));
    EXPECT_EQ(run.volumes.unmount_calls, 20);
    EXPECT_EQ(run.delays.size(), 19u);
    EXPECT_EQ(run.volumes.eject_calls, 0);
    EXPECT_NE(run.printed.find("Error 16"), std::string::npos);
  }
}

TEST(ViewerEject, WrongDriveTypeOrFailedEjectIsNeverSuccess) {
  ScratchFolder dir;
  EjectRun fixed;
  fixed.volumes.Add(dir.path(), DriveType::Fixed);
  EXPECT_FALSE(fixed.Eject(dir.path()));
  EXPECT_EQ(fixed.printed, "Cannot eject.  Drive type is incorrect.\n");
  EXPECT_EQ(fixed.volumes.unmount_calls, 0);

  EjectRun stuck;
  stuck.volumes.Add(dir.path(), DriveType::Removable);
  stuck.volumes.eject_ok = false;
  EXPECT_FALSE(stuck.Eject(dir.path()));
  EXPECT_EQ(stuck.volumes.unmount_calls, 1);
}

}  // namespace
