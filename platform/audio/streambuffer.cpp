#include "streambuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vant::audio {
namespace {

double Gain(int32_t hundredths_db) {
  if (hundredths_db <= STREAM_VOLUME_MIN) return 0.0;
  return std::pow(10.0, hundredths_db / 2000.0);
}

// One sample of the format as a value in -1..1, and back (rounded, clipped).
double Decode(const uint8_t* p, const WaveFormatEx& f) {
  if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
  }
  switch (f.wBitsPerSample) {
    case 8:
      return (p[0] - 128) / 128.0;
    case 16: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v / 32768.0;
    }
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v / 2147483648.0;
    }
  }
}

void Encode(double v, uint8_t* p, const WaveFormatEx& f) {
  if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    const float x = static_cast<float>(v);
    std::memcpy(p, &x, 4);
    return;
  }
  switch (f.wBitsPerSample) {
    case 8:
      p[0] = static_cast<uint8_t>(std::clamp(std::lround(v * 128.0) + 128, 0L, 255L));
      return;
    case 16: {
      const auto x = static_cast<int16_t>(std::clamp(std::lround(v * 32768.0), -32768L, 32767L));
      std::memcpy(p, &x, 2);
      return;
    }
    default: {
      const auto x = static_cast<int32_t>(
          std::clamp(std::llround(v * 2147483648.0), -2147483648LL, 2147483647LL));
      std::memcpy(p, &x, 4);
      return;
    }
  }
}

int64_t Wrap(double frame, int64_t frames) {
  const int64_t f = static_cast<int64_t>(std::floor(frame)) % frames;
  return f < 0 ? f + frames : f;
}

}  // namespace

std::vector<StreamDriver> ListStreamDrivers() {
  Backend& backend = GetBackend();
  std::vector<StreamDriver> drivers;
  const int count = backend.DeviceCount();
  for (int i = 0; i < count; ++i) {
    WaveOutCaps caps;
    if (!backend.GetCaps(i, &caps)) continue;
    drivers.push_back({caps.szPname, i == 0 ? std::string() : caps.szPname});
  }
  return drivers;
}

StreamBuffer::StreamBuffer(const WaveFormatEx& format, uint32_t bytes)
    : format_(format),
      size_(std::max<uint32_t>(bytes / format.nBlockAlign, 1) * format.nBlockAlign),
      frames_(size_ / format.nBlockAlign),
      silence_(format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 8 ? 128 : 0),
      ring_(size_, silence_) {}

std::unique_ptr<StreamBuffer> StreamBuffer::Create(int driver, const WaveFormatEx& format,
                                                   uint32_t bytes, MMRESULT* error) {
  Backend& backend = GetBackend();
  if (!IsPlayableFormat(format)) {
    *error = WAVERR_BADFORMAT;
    return nullptr;
  }
  if (driver < 0 || driver >= backend.DeviceCount()) {
    *error = MMSYSERR_BADDEVICEID;
    return nullptr;
  }
  if (!backend.Supports(driver, format)) {
    *error = WAVERR_BADFORMAT;
    return nullptr;
  }
  std::unique_ptr<StreamBuffer> buffer(new StreamBuffer(format, bytes));
  *error = MMSYSERR_NOERROR;
  buffer->stream_ = backend.Open(driver, format, buffer.get(), error);
  if (!buffer->stream_) {
    if (*error == MMSYSERR_NOERROR) *error = MMSYSERR_ERROR;
    return nullptr;
  }
  // The renderer runs from now on; it renders silence until Play.
  buffer->stream_->Start();
  return buffer;
}

StreamBuffer::~StreamBuffer() { stream_.reset(); }

uint8_t* StreamBuffer::Lock(uint32_t offset, uint32_t bytes) {
  std::lock_guard lock(mutex_);
  if (locked_ || bytes > size_) return nullptr;
  scratch_.assign(bytes, silence_);
  lock_offset_ = offset % size_;
  locked_ = true;
  return scratch_.data();
}

bool StreamBuffer::Unlock() {
  std::lock_guard lock(mutex_);
  if (!locked_) return false;
  locked_ = false;
  const uint32_t first =
      std::min<uint32_t>(static_cast<uint32_t>(scratch_.size()), size_ - lock_offset_);
  std::memcpy(ring_.data() + lock_offset_, scratch_.data(), first);
  std::memcpy(ring_.data(), scratch_.data() + first, scratch_.size() - first);
  return true;
}

void StreamBuffer::Clear() {
  std::lock_guard lock(mutex_);
  std::fill(ring_.begin(), ring_.end(), silence_);
}

void StreamBuffer::Play() {
  {
    std::lock_guard lock(mutex_);
    if (playing_) return;
    playing_ = true;
  }
  stream_->Resume();
  stream_->Kick();
}

void StreamBuffer::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!playing_) return;
    playing_ = false;
  }
  if (stream_->CanDiscard()) stream_->Discard(true);
}

void StreamBuffer::TakeBack(int64_t bytes) {
  std::lock_guard lock(mutex_);
  const int64_t frames = std::clamp<int64_t>(bytes / format_.nBlockAlign, 0, latency_);
  rendered_ -= frames;
  latency_ -= frames;
  // The ring frames those output frames carried are read again by the next Play.
  if (const auto reached = map_.TakeBack(rendered_)) pos_ = std::min(pos_, *reached);
  pos_ = std::max(pos_, heard_max_);
}

bool StreamBuffer::IsPlaying() const {
  std::lock_guard lock(mutex_);
  return playing_;
}

double StreamBuffer::HeardLocked() const {
  const int64_t align = format_.nBlockAlign;
  const int64_t since = stream_ ? std::min(stream_->HeardSinceRender() / align, latency_) : 0;
  // Silence rendered while stopped follows a render: it moves nothing.
  const double heard = map_.Advance(rendered_ - latency_ + since).value_or(heard_max_);
  heard_max_ = std::clamp(heard, heard_max_, pos_);
  return heard_max_;
}

void StreamBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) const {
  std::lock_guard lock(mutex_);
  const int64_t align = format_.nBlockAlign;
  if (play) *play = static_cast<uint32_t>(Wrap(HeardLocked(), frames_) * align);
  if (write) *write = static_cast<uint32_t>(Wrap(std::ceil(pos_), frames_) * align);
}

void StreamBuffer::GetStreamPosition(int64_t* play, int64_t* write) const {
  std::lock_guard lock(mutex_);
  const int64_t align = format_.nBlockAlign;
  if (play) *play = static_cast<int64_t>(std::floor(HeardLocked())) * align;
  if (write) *write = static_cast<int64_t>(std::ceil(pos_)) * align;
}

int StreamBuffer::QueueMs() const {
  const uint64_t rate = std::max<uint32_t>(format_.nAvgBytesPerSec, 1);
  const auto most = static_cast<int>((uint64_t{size_} * 400 + rate / 2) / rate);
  return std::max(std::min(DeepQueueMs(), most), 1);
}

void StreamBuffer::SetCurrentPosition(uint32_t offset) {
  std::lock_guard lock(mutex_);
  pos_ = static_cast<double>((offset % size_) / format_.nBlockAlign);
  heard_max_ = pos_;
  map_.Clear();
}

template <typename T>
MMRESULT StreamBuffer::Store(T value, int64_t low, int64_t high, T& field) {
  if (value < low || value > high) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(mutex_);
  field = value;
  return MMSYSERR_NOERROR;
}

template <typename T>
T StreamBuffer::Load(const T& field) const {
  std::lock_guard lock(mutex_);
  return field;
}

MMRESULT StreamBuffer::SetVolume(int32_t volume) {
  const MMRESULT r = Store(volume, STREAM_VOLUME_MIN, STREAM_VOLUME_MAX, volume_);
  if (r == MMSYSERR_NOERROR) GainsChanged();
  return r;
}
int32_t StreamBuffer::GetVolume() const { return Load(volume_); }
MMRESULT StreamBuffer::SetPan(int32_t pan) {
  const MMRESULT r = Store(pan, STREAM_PAN_LEFT, STREAM_PAN_RIGHT, pan_);
  if (r == MMSYSERR_NOERROR) GainsChanged();
  return r;
}

void StreamBuffer::GainsChanged() {
  {
    std::lock_guard lock(mutex_);
    const double gain = Gain(volume_);
    Gains gains;
    gains.fill(gain);
    // A pan to one side attenuates the other.
    if (format_.nChannels > 1) {
      gains[0] = gain * Gain(std::min(-pan_, 0));
      gains[1] = gain * Gain(std::min(pan_, 0));
    }
    if (gains == gains_) return;
    gains_ = gains;
    if (!playing_ || !stream_->CanDiscard()) return;
  }
  // What the backend holds was rendered with the old gains: it is dropped and rendered again from
  // the first frame not heard (the answer comes as TakeBack), so the change is heard at once
  // however deep the queue. Outside our lock: the backend's renderer holds its own lock while it
  // takes ours.
  stream_->Discard(false);
  stream_->Kick();
}
int32_t StreamBuffer::GetPan() const { return Load(pan_); }

MMRESULT StreamBuffer::SetFrequency(uint32_t rate) {
  // 0 stands for the format's own rate.
  return rate == 0 ? Store(rate, 0, 0, rate_)
                   : Store(rate, STREAM_RATE_MIN, STREAM_RATE_MAX, rate_);
}

uint32_t StreamBuffer::GetFrequency() const {
  const uint32_t rate = Load(rate_);
  return rate == 0 ? format_.nSamplesPerSec : rate;
}

// Rendering (the backend's thread).

size_t StreamBuffer::Render(uint8_t* out, size_t bytes, int64_t latency_bytes, bool sound_only) {
  const int64_t align = format_.nBlockAlign;
  const int64_t frames = static_cast<int64_t>(bytes) / align;
  std::lock_guard lock(mutex_);
  if (!playing_) {
    std::memset(out, silence_, bytes);
    // Played only where the backend plays silence it is handed.
    latency_ = std::max<int64_t>((latency_bytes - (sound_only ? bytes : 0)) / align, 0);
    if (!sound_only) rendered_ += frames;
    return 0;
  }
  latency_ = std::max<int64_t>(latency_bytes / align, 0);
  const double step = rate_ == 0 ? 1.0 : static_cast<double>(rate_) / format_.nSamplesPerSec;
  map_.Append(rendered_, frames, pos_, step);
  if (step == 1.0 && volume_ == 0 && pan_ == 0) {
    CopyOutLocked(out, frames);
  } else {
    ResampleLocked(out, frames, step);
  }
  pos_ += static_cast<double>(frames) * step;
  rendered_ += frames;
  return bytes;
}

void StreamBuffer::CopyOutLocked(uint8_t* out, int64_t frames) {
  const int64_t align = format_.nBlockAlign;
  int64_t at = Wrap(pos_, frames_);
  while (frames > 0) {
    const int64_t n = std::min(frames, frames_ - at);
    std::memcpy(out, ring_.data() + at * align, static_cast<size_t>(n * align));
    out += n * align;
    frames -= n;
    at = 0;
  }
}

void StreamBuffer::ResampleLocked(uint8_t* out, int64_t frames, double step) {
  const int channels = format_.nChannels;
  const int width = format_.nBlockAlign / channels;
  double src = pos_;
  for (int64_t i = 0; i < frames; ++i, src += step) {
    const int64_t a = Wrap(src, frames_);
    const int64_t b = (a + 1) % frames_;
    const double frac = src - std::floor(src);
    const uint8_t* pa = ring_.data() + a * format_.nBlockAlign;
    const uint8_t* pb = ring_.data() + b * format_.nBlockAlign;
    for (int c = 0; c < channels; ++c) {
      double v = Decode(pa + c * width, format_);
      if (frac != 0.0) v += (Decode(pb + c * width, format_) - v) * frac;
      Encode(v * gains_[c], out + c * width, format_);
    }
    out += format_.nBlockAlign;
  }
}

}  // namespace vant::audio
