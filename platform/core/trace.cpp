#include "trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace vant {
namespace {
std::mutex g_mutex;
std::vector<std::string>* g_capture = nullptr;
std::atomic<bool> g_capturing{false};
bool ToStderr() {
  static const bool on = std::getenv("VANT_TRACE") != nullptr;
  return on;
}
}  // namespace

bool TraceOn() { return g_capturing.load(std::memory_order_relaxed) || ToStderr(); }

void Trace(std::string_view line) {
  if (!TraceOn()) return;
  std::lock_guard lock(g_mutex);
  if (g_capture) g_capture->emplace_back(line);
  if (ToStderr()) std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

void TraceF(const char* format, ...) {
  if (!TraceOn()) return;
  char buf[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  Trace(buf);
}

TraceCapture::TraceCapture() {
  std::lock_guard lock(g_mutex);
  g_capture = new std::vector<std::string>;
  g_capturing = true;
}
TraceCapture::~TraceCapture() {
  std::lock_guard lock(g_mutex);
  delete g_capture;
  g_capture = nullptr;
  g_capturing = false;
}
std::vector<std::string> TraceCapture::Lines() const {
  std::lock_guard lock(g_mutex);
  return g_capture ? *g_capture : std::vector<std::string>{};
}

}  // namespace vant
