#include "mmutils.h"

#include <sys/resource.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include "clock.h"
#include "dispatch.h"
#include "globalmem.h"
#include "mmhelpers.h"
#include "progstart.h"
#include "settingsstore.h"

// ---- Primitive procedures --------------------------------------------------------------------

namespace {

template <typename T>
void SwapPlain(T& a, T& b) {
  T t = a;
  a = b;
  b = t;
}
int32_t MinPlain(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t MaxPlain(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t MinMaxPlain(int32_t x, int32_t min, int32_t max) {
  return mm::detail::MinMaxOf(x, min, max);
}
int32_t LimitPlain(int32_t x, int32_t a, int32_t b) { return mm::detail::LimitOf(x, a, b); }
bool InMinMaxPlain(int32_t x, int32_t min, int32_t max) { return min <= x && x <= max; }
bool InRangePlain(int32_t x, int32_t a, int32_t b) {
  return b < a ? InMinMaxPlain(x, b, a) : InMinMaxPlain(x, a, b);
}
void IncHugePlain(void*& p, int64_t n) { p = static_cast<char*>(p) + n; }

void FillMemPlain(void* p, int64_t count, uint8_t value) {
  if (p && count > 0) std::memset(p, value, static_cast<size_t>(count));
}

void FillLongPlain(void* p, int64_t count, uint32_t value) {
  if (!p || count <= 0) return;
  auto* b = static_cast<unsigned char*>(p);
  const size_t words = static_cast<size_t>(count) / 4;
  for (size_t i = 0; i < words; ++i) std::memcpy(b + i * 4, &value, 4);
  std::memset(b + words * 4, static_cast<int>(value & 0xFF), static_cast<size_t>(count) % 4);
}

void MoveMemPlain(const void* source, void* dest, int64_t count) {
  if (count > 0 && source != dest) std::memmove(dest, source, static_cast<size_t>(count));
}

bool CmpMemPlain(const void* p1, const void* p2, int64_t count) {
  return count <= 0 || std::memcmp(p1, p2, static_cast<size_t>(count)) == 0;
}

}  // namespace

void (*SwapSmall)(int16_t&, int16_t&) = SwapPlain<int16_t>;
void (*SwapInt)(int32_t&, int32_t&) = SwapPlain<int32_t>;
void (*SwapLong)(int32_t&, int32_t&) = SwapPlain<int32_t>;
int32_t (*Min)(int32_t, int32_t) = MinPlain;
int32_t (*Max)(int32_t, int32_t) = MaxPlain;
int32_t (*MinMax)(int32_t, int32_t, int32_t) = MinMaxPlain;
int32_t (*Limit)(int32_t, int32_t, int32_t) = LimitPlain;
bool (*InMinMax)(int32_t, int32_t, int32_t) = InMinMaxPlain;
bool (*InRange)(int32_t, int32_t, int32_t) = InRangePlain;
void (*incHuge)(void*&, int64_t) = IncHugePlain;
void (*GlobalFillMem)(void*, int64_t, uint8_t) = FillMemPlain;
void (*GlobalFillLong)(void*, int64_t, uint32_t) = FillLongPlain;
void (*GlobalMoveMem)(const void*, void*, int64_t) = MoveMemPlain;
bool (*GlobalCmpMem)(const void*, const void*, int64_t) = CmpMemPlain;

// ---- Flags and processor ---------------------------------------------------------------------

bool HaveWin95() { return false; }
bool HaveWin98() { return false; }
bool HaveWinME() { return false; }
bool HaveWinNT() { return true; }
bool HaveWinNT4() { return false; }
bool HaveWin2K() { return false; }
bool HaveWinXP() { return true; }

bool _Win95_ = HaveWin95(), _Win98_ = HaveWin98(), _WinME_ = HaveWinME();
bool _WinNT3_ = false, _WinNT4_ = HaveWinNT4(), _Win2K_ = HaveWin2K(), _WinXP_ = HaveWinXP();
bool _Win9x_ = _Win95_ || _Win98_ || _WinME_;
bool _WinNT_ = _WinNT3_ || _WinNT4_ || _Win2K_ || _WinXP_;
bool _WinNT_NEW_ = _WinNT4_ || _Win2K_ || _WinXP_;

namespace {
bool Cpuid1(uint32_t& eax, uint32_t& edx) {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  eax = a;
  edx = d;
  return true;
#else
  (void)eax;
  (void)edx;
  return false;
#endif
}
}  // namespace

int32_t GetCPUType() {
  uint32_t eax, edx;
  if (!Cpuid1(eax, edx)) return 0;
  return static_cast<int32_t>((eax >> 8) & 15) - 4;
}

uint32_t GetCPUFeatures() {
  uint32_t eax, edx;
  return Cpuid1(eax, edx) ? edx : 0;
}

int32_t _CPU_ = GetCPUType();
bool _MMX_ = (GetCPUFeatures() >> 23) & 1;
bool _USECPUEXT_ = true;

int32_t GetCPUMode() {
  if (!_USECPUEXT_) return 0;
  if (_MMX_) return 2;
  return _CPU_ > 1 ? 1 : 0;
}

int64_t GetCPUCycles() {
#if defined(__x86_64__) || defined(__i386__)
  return static_cast<int64_t>(__rdtsc());
#else
  return 0;
#endif
}

int32_t GetCPUUsage() { return 0; }

// ---- 64-bit and sign -------------------------------------------------------------------------

int64_t Min64(int64_t a, int64_t b) { return a < b ? a : b; }
int64_t Max64(int64_t a, int64_t b) { return a > b ? a : b; }
int64_t MinMax64(int64_t x, int64_t min, int64_t max) { return mm::detail::MinMaxOf(x, min, max); }
bool InMinMax64(int64_t x, int64_t min, int64_t max) { return min <= x && x <= max; }
int32_t Sign(int64_t x) { return (x > 0) - (x < 0); }
int64_t int64shl32(int64_t value, int32_t shift) {
  return static_cast<int64_t>(static_cast<uint64_t>(value) << (shift & 31));
}

// ---- Threads and processes -------------------------------------------------------------------

bool MMSetThreadPriority(vant::Thread& thread, int32_t priority) {
  return thread.SetPriority(priority);
}

bool MMSetPriorityClass(int32_t pid, uint32_t priority_class) {
  int nice;
  switch (priority_class) {
    case IDLE_PRIORITY_CLASS:
      nice = 19;
      break;
    case BELOW_NORMAL_PRIORITY_CLASS:
      nice = 10;
      break;
    case NORMAL_PRIORITY_CLASS:
      nice = 0;
      break;
    case ABOVE_NORMAL_PRIORITY_CLASS:
      nice = -5;
      break;
    case HIGH_PRIORITY_CLASS:
      nice = -10;
      break;
    case REALTIME_PRIORITY_CLASS:
      nice = -20;
      break;
    default:
      return false;
  }
  return setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice) == 0;
}

bool WinExecAndWaitEx(const std::string& command_line, int64_t timeout_ms) {
  vant::ChildProcess child;
  if (child.Start(vant::SplitCommandLine(command_line)) != vant::kStartOk) return false;
  if (child.WaitFor(timeout_ms)) return true;
  child.Kill();
  return false;
}

void WinExecAndWait(const std::string& command_line) {
  vant::ChildProcess child;
  if (child.Start(vant::SplitCommandLine(command_line)) != vant::kStartOk) return;
  while (!child.WaitFor(60000)) {
  }
}

// ---- Timing ----------------------------------------------------------------------------------

int64_t TimeGetExactTime() { return vant::GetClock().NowMicros(); }

namespace {
// Process-wide counters of one kind of measurement.
struct Measure {
  int64_t starts = 0, min = 2147483647, max = 0, total = 0, start = 0;
  void Start(int64_t now) {
    ++starts;
    start = now;
  }
  // Takes the duration since the start; answers it with minimum, maximum and average per count.
  struct Stats {
    double cur, min, max, avg;
  };
  Stats Stop(int64_t now, int32_t count) {
    const int64_t d = now - start;
    if (d < min) min = d;
    if (d > max) max = d;
    total += d;
    const double per = count < 1 ? 1 : count;
    const double avg = starts ? static_cast<double>(total) / static_cast<double>(starts) / per : 0;
    return {static_cast<double>(d), min / per, max / per, avg};
  }
};
Measure g_time, g_cycles;
}  // namespace

void InitTimeMeasure() { g_time = Measure{}; }
void StartTimeMeasure() { g_time.Start(TimeGetExactTime()); }
std::string StopTimeMeasure(int32_t count) {
  const auto s = g_time.Stop(TimeGetExactTime(), count);
  return mm::detail::FormatText("Time:  Cur: %f  Min: %f  Max: %f  Avg: %f", s.cur, s.min, s.max,
                                s.avg);
}

void InitCyclesMeasure() { g_cycles = Measure{}; }
void StartCyclesMeasure() { g_cycles.Start(GetCPUCycles()); }
std::string StopCyclesMeasure(int32_t count) {
  const auto s = g_cycles.Stop(GetCPUCycles(), count);
  return mm::detail::FormatText("CPU-Cycles:  Min: %f Max: %f Avg: %f", s.min, s.max, s.avg);
}

void Delay(uint32_t ms, bool process_messages) {
  if (ms == 0) return;
  if (!process_messages) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  vant::Dispatcher& d = vant::GetDispatcher();
  const vant::Clock& clock = vant::GetClock();
  const int64_t end = clock.NowMillis() + ms;
  for (;;) {
    if (d.IsTerminating()) return;
    const int64_t left = end - clock.NowMillis();
    if (left <= 0) return;
    d.WaitForMessages(static_cast<int>(left));
    if (d.IsTerminating()) return;
    d.ProcessMessages();
  }
}

void WinYield(const void*) { vant::GetDispatcher().ProcessMessages(); }

// ---- Global memory ---------------------------------------------------------------------------

void* GlobalAllocMem(int64_t size) {
  if (size < 0) throw vant::OutOfMemoryError("Out of memory");
  return vant::GlobalMemAlloc(static_cast<size_t>(size));
}

void GlobalReAllocMem(void*& p, int64_t size) {
  GlobalFreeMem(p);
  p = GlobalAllocMem(size);
}

void GlobalFreeMem(void*& p) {
  vant::GlobalMemFree(p);
  p = nullptr;
}

int64_t GlobalMemSize(const void* p) { return static_cast<int64_t>(vant::GlobalMemBlockSize(p)); }

// ---- Registry-style settings -----------------------------------------------------------------

namespace {
vant::SettingsStore StoreFor(std::string_view key) {
  return vant::SettingsStore(vant::SettingsStore::FileForKey(key));
}
}  // namespace

void SaveInRegistry(HKEY, std::string_view key, std::string_view name, const TRegValue& value) {
  try {
    vant::SettingsStore store = StoreFor(key);
    if (auto* i = std::get_if<int32_t>(&value)) {
      store.SetInteger(name, *i);
    } else if (auto* b = std::get_if<bool>(&value)) {
      store.SetInteger(name, *b ? 1 : 0);
    } else if (auto* f = std::get_if<double>(&value)) {
      store.SetBinary(name, std::string_view(reinterpret_cast<const char*>(f), sizeof *f));
    } else if (auto* s = std::get_if<std::string>(&value)) {
      store.SetString(name, *s);
    }
  } catch (...) {
  }
}

TRegValue GetFromRegistry(HKEY, std::string_view key, std::string_view name, const TRegValue& def) {
  try {
    const vant::SettingsStore store = StoreFor(key);
    if (std::holds_alternative<int32_t>(def)) {
      if (auto v = store.GetInteger(name)) return static_cast<int32_t>(*v);
    } else if (std::holds_alternative<bool>(def)) {
      if (auto v = store.GetInteger(name)) return *v != 0;
    } else if (std::holds_alternative<double>(def)) {
      auto v = store.GetBinary(name);
      double d;
      if (v && v->size() == sizeof d) {
        std::memcpy(&d, v->data(), sizeof d);
        return d;
      }
    } else if (std::holds_alternative<std::string>(def)) {
      if (auto v = store.GetString(name)) return *v;
    }
  } catch (...) {
  }
  return def;
}

void SaveInRegistryBinary(HKEY, std::string_view key, std::string_view name, const void* buffer,
                          int32_t size) {
  if (size <= 0 || !buffer) return;
  try {
    StoreFor(key).SetBinary(
        name, std::string_view(static_cast<const char*>(buffer), static_cast<size_t>(size)));
  } catch (...) {
  }
}

int32_t GetFromRegistryBinary(HKEY, std::string_view key, std::string_view name, void* buffer,
                              int32_t size) {
  try {
    auto v = StoreFor(key).GetBinary(name);
    if (!v) return 0;
    if (size == 0) return static_cast<int32_t>(v->size());
    const size_t n = std::min(v->size(), static_cast<size_t>(size < 0 ? 0 : size));
    if (buffer) std::memcpy(buffer, v->data(), n);
    return static_cast<int32_t>(n);
  } catch (...) {
    return 0;
  }
}

// ---- Command line and versions ---------------------------------------------------------------

namespace {
std::vector<std::string> CommandLineArgs() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\0', at);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  return args;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
}  // namespace

bool SearchParamStr(std::string_view name) { return SearchParamStr(name, CommandLineArgs()); }

bool SearchParamStr(std::string_view name, const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    std::string_view a = args[i];
    a = a.substr(0, a.find(':'));
    if (!a.empty() && (a[0] == '-' || a[0] == '/') && SameIgnoringCase(a.substr(1), name))
      return true;
  }
  return false;
}

std::string GetVersionNumber(std::string_view) { return {}; }
int32_t GetWindowsLanguage() { return 0; }
std::string GetCountryCode() { return "81"; }

int32_t VersionToInt(std::string_view text) {
  std::string t(text);
  if (size_t open = t.rfind('('); open != std::string::npos) {
    size_t close = t.find(')', open);
    t.erase(open, close == std::string::npos ? std::string::npos : close - open + 1);
  }
  uint32_t result = 0, power = 1;
  for (auto it = t.rbegin(); it != t.rend(); ++it) {
    if (*it == '.' || *it == ' ') continue;
    if (*it >= '0' && *it <= '9') result += static_cast<uint32_t>(*it - '0') * power;
    power *= 10;
  }
  return static_cast<int32_t>(result);
}

vant::CriticalSection& MMUtilsDrawLock() {
  static vant::CriticalSection lock;
  return lock;
}
