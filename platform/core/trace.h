#pragma once
// The trace sink: diagnostic lines for developers (the chunk scan, the eject routines). Lines go to
// stderr when VANT_TRACE is set; tests capture them with a TraceCapture.
#include <string>
#include <string_view>
#include <vector>

namespace vant {

void Trace(std::string_view line);
// printf-style convenience; formats nothing while TraceOn() is false.
void TraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whether a line goes anywhere (VANT_TRACE set, or a capture alive). A caller whose arguments
// cost something to build asks first.
bool TraceOn();

// While alive, every trace line of any thread is also kept here.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;
  std::vector<std::string> Lines() const;
};

}  // namespace vant
