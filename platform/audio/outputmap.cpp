#include "outputmap.h"

#include <cmath>

namespace vant::audio {

void OutputMap::Append(int64_t output, int64_t length, double source, double step) {
  if (length <= 0) return;
  if (count_ > 0) {
    Segment& last = At(count_ - 1);
    if (last.OutputEnd() == output && last.step == step &&
        last.SourceAt(last.OutputEnd()) == source) {
      last.length += length;
      return;
    }
  }
  if (count_ == kCapacity) {
    head_ = (head_ + 1) % kCapacity;
    --count_;
  }
  At(count_++) = {output, length, source, step};
}

std::optional<double> OutputMap::TakeBack(int64_t output) {
  std::optional<double> reached;
  while (count_ > 0) {
    Segment& s = At(count_ - 1);
    if (s.output >= output) {
      reached = s.source;
      --count_;
      continue;
    }
    if (s.OutputEnd() > output) {
      s.length = output - s.output;
      reached = s.SourceAt(output);
    }
    break;
  }
  return reached;
}

std::optional<double> OutputMap::Advance(int64_t output) {
  std::optional<double> heard;
  while (count_ > 0) {
    const Segment& s = At(0);
    if (output >= s.OutputEnd()) {
      heard = s.SourceAt(s.OutputEnd());
      head_ = (head_ + 1) % kCapacity;
      --count_;
      continue;
    }
    if (output > s.output) heard = s.SourceAt(output);
    break;
  }
  return heard;
}

std::optional<int64_t> OutputMap::OutputOf(double position) const {
  for (size_t i = 0; i < count_; ++i) {
    const Segment& s = At(i);
    const double end = s.SourceAt(s.OutputEnd());
    if (position > s.source && position <= end && s.step > 0) {
      return s.output + static_cast<int64_t>(std::ceil((position - s.source) / s.step));
    }
  }
  return std::nullopt;
}

}  // namespace vant::audio
