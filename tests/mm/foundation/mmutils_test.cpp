#include "mmutils.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "clock.h"
#include "dispatch.h"
#include "scratchfolder.h"
#include "tempfiles.h"

namespace fs = std::filesystem;

TEST(MMUtils, PrimitiveProcedures) {
  const struct {
    const char* what;
    int64_t got, want;
  } cases[] = {
      {"Limit(5,10,0)", Limit(5, 10, 0), 5},
      {"Limit(12,10,0)", Limit(12, 10, 0), 10},
      {"Limit(-3,10,0)", Limit(-3, 10, 0), 0},
      {"Limit(12,0,10)", Limit(12, 0, 10), 10},
      {"InRange(5,10,0)", InRange(5, 10, 0), 1},
      {"InRange(11,10,0)", InRange(11, 10, 0), 0},
      {"InRange(0,10,0)", InRange(0, 10, 0), 1},
      {"InMinMax(5,10,0)", InMinMax(5, 10, 0), 0},
      {"MinMax(9,0,5)", MinMax(9, 0, 5), 5},
      {"Min(-1,1)", Min(-1, 1), -1},
      {"Max(-1,1)", Max(-1, 1), 1},
      {"Min64(-1,1)", Min64(-1, 1), -1},
      {"Max64(-1,1)", Max64(-1, 1), 1},
      {"MinMax64(2^40,0,7)", MinMax64(int64_t{1} << 40, 0, 7), 7},
      {"MinMax64(-9,-5,7)", MinMax64(-9, -5, 7), -5},
      {"InMinMax64(-1,-1,0)", InMinMax64(-1, -1, 0), 1},
      {"Sign(-7)", Sign(-7), -1},
      {"Sign(0)", Sign(0), 0},
      {"Sign(2^40)", Sign(int64_t{1} << 40), 1},
      {"int64shl32(1,33)", int64shl32(1, 33), 2},
      {"int64shl32(1,40)", int64shl32(1, 40), 256},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  int16_t a = 1, b = 2;
  SwapSmall(a, b);
  EXPECT_EQ(a * 10 + b, 21);
  char buf[8] = "abcdefg";
  void* p = buf;
  incHuge(p, 3);
  EXPECT_EQ(*static_cast<char*>(p), 'd');
}

TEST(MMUtils, MemoryProcedures) {
  unsigned char m[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  GlobalMoveMem(m, m + 1, 7);  // overlapping, destination after source
  const unsigned char moved[9] = {1, 1, 2, 3, 4, 5, 6, 7, 9};
  EXPECT_EQ(std::memcmp(m, moved, 9), 0);
  GlobalMoveMem(m + 1, m, 7);  // and back, destination before source
  const unsigned char back[9] = {1, 2, 3, 4, 5, 6, 7, 7, 9};
  EXPECT_EQ(std::memcmp(m, back, 9), 0);
  GlobalMoveMem(m, m + 4, 0);
  EXPECT_EQ(std::memcmp(m, back, 9), 0);

  unsigned char f[8] = {};
  GlobalFillLong(f, 7, 0x11223344);
  const unsigned char filled[8] = {0x44, 0x33, 0x22, 0x11, 0x44, 0x44, 0x44, 0};
  EXPECT_EQ(std::memcmp(f, filled, 8), 0);
  GlobalFillMem(f, 3, 0xAB);
  GlobalFillMem(nullptr, 3, 0xAB);
  GlobalFillMem(f, -1, 0);
  EXPECT_EQ(f[2], 0xAB);
  EXPECT_EQ(f[3], 0x11);
  EXPECT_TRUE(GlobalCmpMem(filled + 4, f + 4, 3));
  EXPECT_FALSE(GlobalCmpMem(filled, f, 7));

  void* g = GlobalAllocMem(100);
  EXPECT_EQ(GlobalMemSize(g), 100);
  std::memset(g, 0x5A, 100);
  GlobalReAllocMem(g, 50);
  EXPECT_EQ(GlobalMemSize(g), 50);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(static_cast<unsigned char*>(g)[i], 0) << i;
  GlobalFreeMem(g);
  EXPECT_EQ(g, nullptr);
  EXPECT_EQ(GlobalMemSize(nullptr), 0);
  EXPECT_THROW(GlobalAllocMem(-1), vant::OutOfMemoryError);
}

TEST(MMUtils, PlatformFlagsDescribeACurrentNtSystem) {
  EXPECT_TRUE(_WinNT_ && _WinNT_NEW_ && _WinXP_);
  EXPECT_FALSE(_Win95_ || _Win98_ || _WinME_ || _Win9x_ || _WinNT3_ || _WinNT4_ || _Win2K_);
  EXPECT_TRUE(_USECPUEXT_);
  EXPECT_EQ(GetCPUMode(), _MMX_ ? 2 : (_CPU_ > 1 ? 1 : 0));
#if defined(__x86_64__)
  EXPECT_TRUE(_MMX_);  // every x86-64 processor has it
#endif
}

TEST(MMUtils, TimeFormats) {
  const std::pair<std::string, std::string> cases[] = {
      {TimeToStringEx(3723004, true), "1:02:03.004"},
      {TimeToStringEx(59999, false), "0:59"},
      {TimeToStringEx(59999, true), "0:59.999"},
      {TimeToStringEx(3599999, false), "59:59"},
      {TimeToStringEx(90061001, false), "1:01:01:01"},
      {TimeToStringEx(90061001, true), "1:01:01:01.001"},
      {TimeToStringEx(86400000LL * 400, false), "400:00:00:00"},
      {TimeToStringEx(-61500, true), "-1:01.500"},
      {TimeToString(0), "0:00.000"},
      {TimeToString64(0x05265C00u, 0, false), "1:00:00:00"},
      {TimeToString64(0, 1, false), "49:17:02:47"},
      {TimeToMask(3723004), "010203004"},
      {TimeToMask(-5), "000000000"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  EXPECT_EQ(MaskToTime("010203004"), 3723004);
  EXPECT_EQ(MaskToTime("x"), 0);
  uint16_t h, m, s, ms;
  TimeDecode(3723004, h, m, s, ms);
  EXPECT_EQ((std::vector<int>{h, m, s, ms}), (std::vector<int>{1, 2, 3, 4}));
}

TEST(MMUtils, NumberAndLevelFormats) {
  const std::pair<std::string, std::string> cases[] = {
      {FormatBigNumber(1234567), "1.234.567"},
      {FormatBigNumber(999), "999"},
      {FormatBigNumber(1000), "1.000"},
      {FormatBigNumber(1234567890123), "1234.567.890.123"},
      {FormatBigNumber(-5000), "-5000"},
      {BytesToString(1040000), "1.0 Mb"},
      {BytesToString(1023999), "1000.0 Kb"},
      {BytesToString(int64_t{3} << 29), "1.5 Gb"},
      {PanningToString(0, 100), "50:50"},
      {PanningToString(-100, 100), "100:0"},
      {PanningToString(100, 100), "0:100"},
      {PanningToString(5, 0), "50:50"},
      {VolumeToStringShort(8192, 16384, 1), "-6.0"},
      {VolumeToString(16384, 16384, 2), "0.00 dB"},
      {VolumeToString(0, 16384, 2), "-Inf dB"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  EXPECT_EQ(DBToVolume(-6.0206f, 16384), 8192);
  EXPECT_FLOAT_EQ(DBToLin(-20), 0.1f);
  EXPECT_FLOAT_EQ(LinToDB(0.1f), -20);
  EXPECT_EQ(LinToDB(0), -120);
  EXPECT_EQ(VolumeToDB(0, 100), -110);
  int32_t l, r;
  CalcVolume(100, 1000, -25, l, r);
  EXPECT_EQ(l, 1000);
  EXPECT_EQ(r, 750);
  CalcVolume(100, 1000, 100, l, r);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(r, 1000);
  EXPECT_EQ(CombineVolume(16384, 16384, 16384), 16384);
  EXPECT_EQ(CombineVolume(32767, 32767, 16384), 16384);
  EXPECT_EQ(CombineVolume(8192, 16384, 16384), 8192);
}

TEST(MMUtils, FloatTexts) {
  EXPECT_DOUBLE_EQ(StrToFloatEx("1,5", ','), 1.5);
  EXPECT_DOUBLE_EQ(StrToFloatEx("1.5", ','), 1.5);
  EXPECT_DOUBLE_EQ(StrToFloatEx("1,5", '.'), 1.5);
  EXPECT_DOUBLE_EQ(StrToFloatEx(" -2.25 ", '.'), -2.25);
  for (const char* bad : {"", "abc", "1.5x", "1,5,5"})
    EXPECT_THROW(StrToFloatEx(bad, '.'), EConvertError) << bad;
  EXPECT_EQ(CheckFloat("1,5;2.5"), "1.5.2.5");  // in the C locale of the tests
}

// A numeric locale whose decimal separator is ',' (and '.' groups thousands), compiled for the
// test with the C library's localedef and switched on for LC_NUMERIC while it lives.
class CommaDecimalLocale {
 public:
  CommaDecimalLocale() {
    const auto source = folder_.path() / "comma.src";
    std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\n"
                             "grouping 3;3\nEND LC_NUMERIC\n";
    const std::string command = "localedef -c -i " + source.string() + " -f ANSI_X3.4-1968 " +
                                (folder_.path() / "xx_COMMA").string() + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == -1) return;
    const char* old_path = getenv("LOCPATH");
    if (old_path) old_path_ = old_path;
    had_path_ = old_path != nullptr;
    setenv("LOCPATH", folder_.path().c_str(), 1);
    previous_ = setlocale(LC_NUMERIC, nullptr);
    active_ = setlocale(LC_NUMERIC, "xx_COMMA") != nullptr;
  }
  ~CommaDecimalLocale() {
    setlocale(LC_NUMERIC, previous_.c_str());
    had_path_ ? setenv("LOCPATH", old_path_.c_str(), 1) : unsetenv("LOCPATH");
  }
  bool Active() const { return active_; }

 private:
  vant::testing::ScratchFolder folder_;
  std::string previous_, old_path_;
  bool had_path_ = false, active_ = false;
};

TEST(MMUtils, FloatTextsUnderACommaDecimalLocale) {
  CommaDecimalLocale comma;
  if (!comma.Active()) GTEST_SKIP() << "localedef could not make a locale (no character maps)";
  EXPECT_EQ(DecimalSeparator(), ',');
  struct Case {
    const char* text;
    char decimal;
    double value;
  } cases[] = {{"1,5", ',', 1.5},    {"1.5", ',', 1.5},       {"1,5", '.', 1.5},
               {"2.25", '.', 2.25},  {" -2.25 ", '.', -2.25}, {"1024", '.', 1024},
               {"0,125", ',', 0.125}};
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(StrToFloatEx(c.text, c.decimal), c.value) << c.text << " " << c.decimal;
  for (const char* bad : {"", "abc", "1.5x", "1,5,5", "1.5.5"})
    EXPECT_THROW(StrToFloatEx(bad, '.'), EConvertError) << bad;
  EXPECT_EQ(CheckFloat("1,5;2.5"), "1,5,2,5");
  // Sizes keep their '.' whatever the locale says.
  EXPECT_EQ(BytesToString(int64_t{3} << 29), "1.5 Gb");
  EXPECT_EQ(BytesToString(1040000), "1.0 Mb");
}

TEST(MMUtils, PathsAndNames) {
  const std::pair<std::string, std::string> cases[] = {
      {CheckPath("/dir/", false), "/dir"}, {CheckPath("/dir", false), "/dir"},
      {CheckPath("/dir", true), "/dir/"},  {CheckPath("/dir/", true), "/dir/"},
      {CheckPath("", true), ""},           {CheckPath("", false), ""},
      {CheckPath("/", false), "/"},        {CheckFileName("/a/b<c>:d.e.wav"), "/a/b_c__d_e.wav"},
      {CheckFileName("x?y"), "x_y"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  const std::pair<const char*, int> versions[] = {
      {"2.10 (build 5)", 210}, {"1.2.3", 123}, {"1.a", 10}, {"", 0}};
  for (auto [text, want] : versions) EXPECT_EQ(VersionToInt(text), want) << text;
  const std::vector<std::string> args = {"prog", "/Debug:3", "file.wav", "-x"};
  EXPECT_TRUE(SearchParamStr("debug", args));
  EXPECT_TRUE(SearchParamStr("X", args));
  EXPECT_FALSE(SearchParamStr("file.wav", args));
  EXPECT_FALSE(SearchParamStr("prog", {"-prog"}));
}

TEST(MMUtils, FoldersFilesAndDisks) {
  const fs::path root = *vant::MakeTempName(vant::TempFolder(), "mmutils-");
  const std::string deep = (root / "a" / "b" / "c").string();
  EXPECT_TRUE(CreateFullDir(deep));
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(CreateFullDir(deep + "/"));
  EXPECT_FALSE(CreateFullDir(""));
  EXPECT_FALSE(CreateFullDir("relative/dir"));
  std::ofstream(deep + "/f.wav") << "12345";
  std::ofstream(root / "a" / "b" / "g") << "1";
  EXPECT_EQ(GetFileSize(deep + "/f.wav"), 5);
  EXPECT_EQ(GetFileSize(deep + "/missing"), -1);
  EXPECT_EQ(GetShortFileName(deep + "/f.wav"), "f.wav");
  EXPECT_EQ(GetShortFileName(deep + "/missing"), "");

  int64_t free_bytes = -1, total = -1;
  EXPECT_TRUE(GetDiskStats(deep + "/f.wav", free_bytes, total));
  EXPECT_GT(total, 0);
  EXPECT_TRUE(GetDiskFree(deep + "/f.wav", 0));
  EXPECT_FALSE(GetDiskFree(deep + "/f.wav", INT64_MAX));
  EXPECT_FALSE(GetDiskStats("/no/such/drive/x.wav", free_bytes, total));
  EXPECT_EQ(free_bytes, 0);
  EXPECT_EQ(total, 1);

  DeleteDir(deep);  // files only: the folder goes too
  EXPECT_FALSE(fs::exists(deep));
  DeleteDir((root / "a" / "b").string());
  EXPECT_FALSE(fs::exists(root / "a" / "b"));
  fs::remove_all(root);

  const std::string temp = GetTempFile();
  ASSERT_FALSE(temp.empty());
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(fs::path(temp).filename().string().front(), 'w');
}

TEST(MMUtils, RegistryValuesKeepTheirTypes) {
  const fs::path root = *vant::MakeTempName(vant::TempFolder(), "mmreg-");
  const char* old = getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", root.c_str(), 1);
  const char* key = "Software\\QORA\\Test";
  SaveInRegistry(HKEY_CURRENT_USER, key, "Int", int32_t{-7});
  SaveInRegistry(HKEY_CURRENT_USER, key, "Real", 2.5);
  SaveInRegistry(HKEY_CURRENT_USER, key, "Flag", true);
  SaveInRegistry(HKEY_CURRENT_USER, key, "Text", std::string("abc"));
  EXPECT_TRUE(fs::exists(root / "QORA" / "Test.conf"));
  EXPECT_EQ(std::get<int32_t>(GetFromRegistry(HKEY_CURRENT_USER, key, "Int", int32_t{0})), -7);
  EXPECT_EQ(std::get<double>(GetFromRegistry(HKEY_CURRENT_USER, key, "Real", 0.0)), 2.5);
  EXPECT_EQ(std::get<bool>(GetFromRegistry(HKEY_CURRENT_USER, key, "Flag", false)), true);
  EXPECT_EQ(std::get<std::string>(GetFromRegistry(0, key, "Text", std::string())), "abc");
  // Of another type or missing: the default comes back.
  EXPECT_EQ(std::get<int32_t>(GetFromRegistry(HKEY_CURRENT_USER, key, "Text", int32_t{9})), 9);
  EXPECT_EQ(
      std::get<std::string>(GetFromRegistry(HKEY_CURRENT_USER, key, "None", std::string("d"))),
      "d");
  const char blob[5] = {1, 2, 3, 4, 5};
  SaveInRegistryBinary(HKEY_CURRENT_USER, key, "Blob", blob, 5);
  char out[8] = {};
  EXPECT_EQ(GetFromRegistryBinary(HKEY_CURRENT_USER, key, "Blob", nullptr, 0), 5);
  EXPECT_EQ(GetFromRegistryBinary(HKEY_CURRENT_USER, key, "Blob", out, 3), 3);
  EXPECT_EQ(std::memcmp(out, blob, 3), 0);
  EXPECT_EQ(GetFromRegistryBinary(HKEY_CURRENT_USER, key, "None", out, 3), 0);
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
  fs::remove_all(root);
}

TEST(MMUtils, ProcessesRunWithABoundedWait) {
  EXPECT_TRUE(WinExecAndWaitEx("true", 60000));
  EXPECT_FALSE(WinExecAndWaitEx("sleep 600", 0));  // killed when the time is up
  EXPECT_FALSE(WinExecAndWaitEx("/no/such/program", 60000));
  EXPECT_FALSE(WinExecAndWaitEx("", 60000));
  EXPECT_TRUE(MMSetPriorityClass(0, BELOW_NORMAL_PRIORITY_CLASS));  // lowering needs no rights
  EXPECT_FALSE(MMSetPriorityClass(0, 12345));
}

namespace {
// A dispatcher whose waits let the injected clock run, so Delay can be followed step by step.
class SteppingDispatcher : public vant::Dispatcher {
 public:
  explicit SteppingDispatcher(vant::ManualClock& clock) : clock_(clock) {}
  void Post(std::function<void()>) override {}
  void ProcessMessages() override {
    ++processed;
    if (processed == terminate_after) terminating = true;
  }
  bool IsGuiThread() const override { return true; }
  void WaitForMessages(int timeout_ms) override {
    waits.push_back(timeout_ms);
    clock_.AdvanceMillis(std::min(timeout_ms, 10));  // a message arrives every 10 ms
  }
  bool IsTerminating() const override { return terminating; }
  int processed = 0, terminate_after = -1;
  bool terminating = false;
  std::vector<int> waits;

 private:
  vant::ManualClock& clock_;
};
}  // namespace

TEST(MMUtils, DelayRunsMessagesUntilTimeIsUpOrTheApplicationEnds) {
  vant::ManualClock clock;
  vant::SetClock(&clock);
  SteppingDispatcher d(clock);
  vant::SetDispatcher(&d);
  Delay(35, true);
  EXPECT_EQ(d.waits, (std::vector<int>{35, 25, 15, 5}));
  EXPECT_EQ(d.processed, 4);

  d.processed = 0;
  d.waits.clear();
  d.terminate_after = 2;
  Delay(1000000, true);  // ends at the first look after the application started closing
  EXPECT_EQ(d.processed, 2);
  Delay(1000000, true);
  EXPECT_EQ(d.processed, 2);
  Delay(0, true);

  vant::SetDispatcher(nullptr);
  // With the plain queue: a posted message that lets time pass ends the wait.
  const int64_t before = clock.NowMillis();
  vant::GetDispatcher().Post([&] { clock.AdvanceMillis(50); });
  Delay(50, true);
  EXPECT_EQ(clock.NowMillis(), before + 50);
  EXPECT_EQ(TimeGetExactTime(), clock.NowMicros());
  clock.Set(int64_t{86400} * 1000000 * 400);  // days of uptime
  EXPECT_EQ(TimeGetExactTime(), int64_t{86400} * 1000000 * 400);
  vant::SetClock(nullptr);
}

TEST(MMUtils, TimeMeasureKeepsMinMaxAndAverage) {
  vant::ManualClock clock;
  vant::SetClock(&clock);
  InitTimeMeasure();
  StartTimeMeasure();
  clock.Advance(100);
  StopTimeMeasure(1);
  StartTimeMeasure();
  clock.Advance(300);
  EXPECT_EQ(StopTimeMeasure(2),
            "Time:  Cur: 300.000000  Min: 50.000000  Max: 150.000000  Avg: 100.000000");
  vant::SetClock(nullptr);
}
