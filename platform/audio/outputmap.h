#pragma once
// Which stretch of a device's output carried which stretch of its source: what the listener has
// heard of the output maps back to the source, and output a backend drops unheard maps back to
// the first source unit to render again. Output is counted in whole units (bytes or frames),
// the source in units that may be fractional (a stream buffer read at another rate). A fixed
// ring: appending never allocates, so the renderer may do it; when full the oldest segment goes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace vant::audio {

class OutputMap {
 public:
  struct Segment {
    int64_t output;  // output offset of its first unit
    int64_t length;  // output units
    double source;   // source position of its first unit
    double step;     // source units per output unit
    int64_t OutputEnd() const { return output + length; }
    double SourceAt(int64_t out) const { return source + static_cast<double>(out - output) * step; }
  };
  static constexpr size_t kCapacity = 256;

  // Records that `length` units of output from `output` on carried the source from `source` on;
  // continues the last segment where it follows it seamlessly.
  void Append(int64_t output, int64_t length, double source, double step);
  // The output from `output` on is taken back: answers the source position it had reached there
  // (what renders next), or nothing where no segment reaches past `output`.
  std::optional<double> TakeBack(int64_t output);
  // The listener has heard the output up to `output`: forgets the segments heard to their end
  // and answers how far the source was heard, or nothing where no segment starts before it.
  std::optional<double> Advance(int64_t output);
  // The output offset at which the source reaches `position`, where a segment carried it.
  std::optional<int64_t> OutputOf(double position) const;
  void Clear() { head_ = count_ = 0; }
  bool Empty() const { return count_ == 0; }

 private:
  Segment& At(size_t i) { return ring_[(head_ + i) % kCapacity]; }
  const Segment& At(size_t i) const { return ring_[(head_ + i) % kCapacity]; }

  std::array<Segment, kCapacity> ring_{};
  size_t head_ = 0;
  size_t count_ = 0;
};

}  // namespace vant::audio
