#pragma once
// The media library's toolbox: shared enumerations, replaceable primitive procedures, platform
// and processor flags, the microsecond clock, bounded waits that keep the message loop alive,
// global memory, disk statistics, file and folder helpers, the registry-style settings access,
// time, level and size formatting, and the few system queries the library makes.
//
// Queries that only the original platform could answer return fixed values, said at each one.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "critsect.h"
#include "exceptions.h"
#include "globalmem.h"
#include "mmenums.h"
#include "ui_component.h"
#include "osthread.h"

// ---- Platform and processor flags (set once at start-up) ------------------------------------

// The system counts as a current NT-family system: _WinNT_, _WinNT_NEW_ and _WinXP_ are true,
// the 9x flags and _WinNT3_, _WinNT4_ and _Win2K_ false.
extern bool _Win95_, _Win98_, _WinME_, _WinNT3_, _WinNT4_, _Win2K_, _WinXP_;
extern bool _Win9x_, _WinNT_, _WinNT_NEW_;
// Processor family − 4 from the identification instruction (0 when there is none), its MMX
// feature bit, and whether processor extensions may be used.
extern int32_t _CPU_;
extern bool _MMX_, _USECPUEXT_;

bool HaveWin95();
bool HaveWin98();
bool HaveWinME();
bool HaveWinNT();
bool HaveWinNT4();
bool HaveWin2K();
bool HaveWinXP();

int32_t GetCPUType();
uint32_t GetCPUFeatures();
// 0 without extensions, 2 with MMX, else 1 on a processor above the first family, else 0.
int32_t GetCPUMode();
// The processor's time-stamp counter (0 where there is none).
int64_t GetCPUCycles();
// The system's processor load in percent. Fixed 0: no load statistics are sampled here.
int32_t GetCPUUsage();

// ---- Replaceable primitive procedures ---------------------------------------------------------
// Each is a variable holding one plain implementation; the library calls them only through the
// variable so that a faster routine can be put in its place.

extern void (*SwapSmall)(int16_t& a, int16_t& b);
extern void (*SwapInt)(int32_t& a, int32_t& b);
extern void (*SwapLong)(int32_t& a, int32_t& b);
extern int32_t (*Min)(int32_t a, int32_t b);
extern int32_t (*Max)(int32_t a, int32_t b);
// Min when X < Min, else Max when X > Max, else X.
extern int32_t (*MinMax)(int32_t x, int32_t min, int32_t max);
// X clamped between A and B given in either order.
extern int32_t (*Limit)(int32_t x, int32_t a, int32_t b);
extern bool (*InMinMax)(int32_t x, int32_t min, int32_t max);
// X between A and B given in either order, bounds included.
extern bool (*InRange)(int32_t x, int32_t a, int32_t b);
// Advances P by N bytes.
extern void (*incHuge)(void*& p, int64_t n);
// Count bytes set to Value; nothing for a null P or Count <= 0.
extern void (*GlobalFillMem)(void* p, int64_t count, uint8_t value);
// Count div 4 whole 32-bit values, then Count mod 4 bytes of the value's low byte.
extern void (*GlobalFillLong)(void* p, int64_t count, uint32_t value);
// Overlap-safe move; nothing for Count <= 0 or Source = Dest.
extern void (*GlobalMoveMem)(const void* source, void* dest, int64_t count);
extern bool (*GlobalCmpMem)(const void* p1, const void* p2, int64_t count);

// ---- 64-bit and sign routines -----------------------------------------------------------------

int64_t Min64(int64_t a, int64_t b);
int64_t Max64(int64_t a, int64_t b);
int64_t MinMax64(int64_t x, int64_t min, int64_t max);
bool InMinMax64(int64_t x, int64_t min, int64_t max);
int32_t Sign(int64_t x);
// Value shifted left by Shift mod 32.
int64_t int64shl32(int64_t value, int32_t shift);

// ---- Threads and processes ---------------------------------------------------------------------

// Best effort, as the thread's SetPriority (-15 .. 15 scale).
bool MMSetThreadPriority(vant::Thread& thread, int32_t priority);
// Priority classes of processes (0 = this process); mapped to nice values.
enum : uint32_t {
  IDLE_PRIORITY_CLASS = 0x40,
  BELOW_NORMAL_PRIORITY_CLASS = 0x4000,
  NORMAL_PRIORITY_CLASS = 0x20,
  ABOVE_NORMAL_PRIORITY_CLASS = 0x8000,
  HIGH_PRIORITY_CLASS = 0x80,
  REALTIME_PRIORITY_CLASS = 0x100
};
bool MMSetPriorityClass(int32_t pid, uint32_t priority_class);

// Starts the command line (split into arguments, never through a shell), waits up to
// `timeout_ms` and returns true when it ended in time; otherwise kills it and returns false.
// False when it cannot be started.
bool WinExecAndWaitEx(const std::string& command_line, int64_t timeout_ms);
void WinExecAndWait(const std::string& command_line);

// ---- Timing ----------------------------------------------------------------------------------

// Microseconds from the process clock (arbitrary origin, monotonic, 64-bit).
int64_t TimeGetExactTime();
// Debugging aids with process-wide counters (not thread-safe).
void InitTimeMeasure();
void StartTimeMeasure();
std::string StopTimeMeasure(int32_t count);
void InitCyclesMeasure();
void StartCyclesMeasure();
std::string StopCyclesMeasure(int32_t count);

// Without `process_messages` the thread sleeps `ms`. With it, the GUI thread's messages keep
// running until `ms` have passed on the process clock, and the wait ends at once when the
// application is being torn down.
void Delay(uint32_t ms, bool process_messages);
// Runs the messages pending on the GUI thread. Messages are not kept per window here, so those
// of every window run, `window` only names the caller's interest.
void WinYield(const void* window);

// ---- Global memory ----------------------------------------------------------------------------

// Zero-filled; raises vant::OutOfMemoryError when the memory cannot be had.
void* GlobalAllocMem(int64_t size);
// Frees the old block and gives a new zero-filled one: the old contents are not kept.
void GlobalReAllocMem(void*& p, int64_t size);
void GlobalFreeMem(void*& p);
int64_t GlobalMemSize(const void* p);

// ---- Files, folders and disks ------------------------------------------------------------------
// Paths are native ('/'-separated).

// With `with_separator` a '/' is appended when the path does not end in one; without it one
// trailing '/' is removed (the root "/" stays). An empty path stays empty.
std::string CheckPath(std::string_view path, bool with_separator);
// Characters some file systems refuse (" * , < > ? | :) become '_', and so do dots in the name
// before its extension.
std::string CheckFileName(std::string_view file_name);
// A name in the temporary folder, "w…​.tmp", that does not exist yet; the file is not created.
// Empty when no name can be had.
std::string GetTempFile();
// Creates every missing level of an absolute path; true when the whole path exists afterwards.
bool CreateFullDir(std::string_view path);
// Deletes the files directly in the folder (subfolders are not descended into), then the folder.
void DeleteDir(std::string_view path);
// Size of the file in bytes (64-bit), -1 when it does not exist.
int64_t GetFileSize(std::string_view file_name);
// The name of an existing file (there are no short names here); empty otherwise.
std::string GetShortFileName(std::string_view file_name);
// Bytes free for the user and total bytes of the disk holding the folder part of `path`; on
// failure false with free 0 and total 1.
bool GetDiskStats(std::string_view path, int64_t& free_bytes, int64_t& total_bytes);
bool GetDiskFree(std::string_view path, int64_t needed);

// ---- Registry-style settings -------------------------------------------------------------------
// Keys map to per-user settings files (vant::SettingsStore::FileForKey). Integers and Booleans
// are stored as integers, floating-point values as 8 binary bytes, strings as strings.

using HKEY = uint32_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000, HKEY_CURRENT_USER = 0x80000001,
               HKEY_LOCAL_MACHINE = 0x80000002, HKEY_USERS = 0x80000003;
using TRegValue = std::variant<std::monostate, int32_t, double, bool, std::string>;

// Every root key reaches the same per-user store. None of these raises.
void SaveInRegistry(HKEY root, std::string_view key, std::string_view name, const TRegValue& value);
// The stored value read as the type of `def`, or `def` when missing or of another type.
TRegValue GetFromRegistry(HKEY root, std::string_view key, std::string_view name,
                          const TRegValue& def);
void SaveInRegistryBinary(HKEY root, std::string_view key, std::string_view name,
                          const void* buffer, int32_t size);
// 0 when missing; the data size when `size` is 0; else the bytes copied into `buffer`.
int32_t GetFromRegistryBinary(HKEY root, std::string_view key, std::string_view name, void* buffer,
                              int32_t size);

// ---- Formatting and conversion -----------------------------------------------------------------

// The framework's conversion error, one class for the whole library.
using EConvertError = vant::EConvertError;

// All 0 for time <= 0.
void TimeDecode(int64_t time_ms, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec);
// "HHMMmmmmm": hours, minutes and the milliseconds within the minute.
std::string TimeToMask(int64_t time_ms);
// Reads a TimeToMask text back to milliseconds (0 for a text that is no number).
int64_t MaskToTime(std::string_view mask);
// "M:SS", "H:MM:SS" or "D:HH:MM:SS" with ".mmm" when asked; the shortest form counts total
// minutes. A negative time is shown as '-' and the form of its magnitude.
std::string TimeToStringEx(int64_t time_ms, bool with_ms);
std::string TimeToString64Ex(int64_t time_ms, bool with_ms);
std::string TimeToString64(uint32_t low, uint32_t high, bool with_ms);
std::string TimeToString(int64_t time_ms);

// The decimal separator of the current numeric locale.
char DecimalSeparator();
// Every ',', '.' and ';' that is not the decimal separator becomes it.
std::string CheckFloat(std::string_view text);
// With `decimal_char` ',' the first '.' becomes ','; with '.' the first ',' becomes '.'; then
// the text is read with `decimal_char` as the separator. Raises EConvertError for no number.
double StrToFloatEx(std::string_view text, char decimal_char);

float DBToLin(float db);
float LinToDB(float x);
int32_t DBToVolume(float db, int32_t max_volume);
float VolumeToDB(int32_t volume, int32_t max_volume);
std::string VolumeToStringShort(int32_t volume, int32_t max_volume, int32_t digits);
std::string VolumeToString(int32_t volume, int32_t max_volume, int32_t digits);
// "L:R" shares of 100; "50:50" for a range of 0.
std::string PanningToString(int32_t pan, int32_t range);
// The channel on the pan side gets the full volume, the other the share left by the pan.
void CalcVolume(int32_t range, int32_t volume, int32_t pan, int32_t& left, int32_t& right);
int32_t CombineVolume(int32_t a, int32_t b, int32_t max);
// Groups of thousands separated by '.'.
std::string FormatBigNumber(int64_t n);
// "x.y Gb", "x.y Mb" (from 1,024,000 bytes) or "x.y Kb", always with '.'.
std::string BytesToString(int64_t bytes);

// ---- Command line, versions, locale ------------------------------------------------------------

// True when a command-line argument, cut at its first ':', is "-Name" or "/Name" (any case).
bool SearchParamStr(std::string_view name);
// The same over `args` (args[0] is the program and is not looked at).
bool SearchParamStr(std::string_view name, const std::vector<std::string>& args);
// Fixed "": programs carry no version resources here.
std::string GetVersionNumber(std::string_view file_name);
// Fixed 0: there is no system language resource to read.
int32_t GetWindowsLanguage();
// Fixed "81" (Japan): the programs are made for Japanese systems.
std::string GetCountryCode();
// Digits from the right as decimal places, ignoring '.' and blanks and a trailing "(...)" part:
// "2.10 (build 5)" is 210.
int32_t VersionToInt(std::string_view text);

// The lock the unit's drawing routines hold while they use their memory contexts.
vant::CriticalSection& MMUtilsDrawLock();
