#include "engine/linear_resampler.h"

#include <algorithm>
#include <cmath>

#include "engine/sample_fifo.h"

namespace zennic {

void LinearResampler::Reset() {
  pending_.clear();
  phase_ = 0.0;
}

void LinearResampler::Reserve(uint64_t frames) { pending_.reserve(2 * (2 * frames + 4)); }

void LinearResampler::Produce(uint64_t count, double step, float* out) {
  const uint64_t pending = pending_frames();
  for (uint64_t i = 0; i < count; ++i) {
    double position = static_cast<double>(i) * step + phase_;
    auto j = std::min(static_cast<uint64_t>(position), pending - 1);
    auto fraction = static_cast<float>(position - static_cast<double>(j));
    uint64_t k = std::min(pending - 1, j + 1);
    for (int channel = 0; channel < 2; ++channel) {
      float a = pending_[2 * j + channel];
      float b = pending_[2 * k + channel];
      out[2 * i + channel] = (b - a) * fraction + a;
    }
  }
  phase_ += static_cast<double>(count) * step;
  // When one output frame spans several source frames the next position can lie beyond the
  // pending frames: the phase then keeps the distance, and the frames in between are skipped
  // as they arrive, so the next buffer starts exactly one step after the last frame used.
  uint64_t passed = std::min(static_cast<uint64_t>(std::floor(phase_)), pending);
  if (passed > 0) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(2 * passed));
    phase_ -= static_cast<double>(passed);
  }
}

void LinearResampler::Push(const float* stereo, uint64_t frame_count, uint32_t source_rate,
                           std::vector<float>* out) {
  if (stereo == nullptr || frame_count == 0 || source_rate == 0) return;
  if (source_rate == kEngineRate) {
    out->insert(out->end(), stereo, stereo + 2 * frame_count);
    return;
  }
  pending_.insert(pending_.end(), stereo, stereo + 2 * frame_count);
  const double step = static_cast<double>(source_rate) / kEngineRate;
  // An output frame needs the source frame after its position, except at the very end.
  double span = static_cast<double>(pending_frames() - 1) - phase_;
  if (span <= 0.0) return;
  auto count = static_cast<uint64_t>(std::ceil(span / step));
  size_t offset = out->size();
  out->resize(offset + 2 * count);
  Produce(count, step, out->data() + offset);
}

uint64_t LinearResampler::TopUpFrames(SampleFifo* fifo, uint64_t frames) {
  uint64_t have = pending_frames();
  if (have >= frames) return 0;
  pending_.resize(2 * frames);
  return frames - have - fifo->Read(pending_.data() + 2 * have, frames - have, true);
}

bool LinearResampler::PassesThrough(uint32_t target_rate, double speed) const {
  return target_rate == kEngineRate && speed == 1.0 && pending_.empty() && phase_ == 0.0;
}

uint64_t LinearResampler::FramesSpanned(uint64_t frame_count, double step) const {
  return static_cast<uint64_t>(std::floor(static_cast<double>(frame_count - 1) * step + phase_)) +
         2;
}

uint64_t LinearResampler::FramesNeeded(uint32_t target_rate, uint64_t frame_count,
                                       double speed) const {
  if (frame_count == 0 || target_rate == 0 || !(speed > 0.0)) return 0;
  if (PassesThrough(target_rate, speed)) return frame_count;
  uint64_t spanned =
      FramesSpanned(frame_count, static_cast<double>(kEngineRate) / target_rate * speed);
  return spanned > pending_frames() ? spanned - pending_frames() : 0;
}

uint64_t LinearResampler::FramesProducible(uint64_t fifo_frames, uint32_t target_rate,
                                           uint64_t wanted, double speed) const {
  if (FramesNeeded(target_rate, wanted, speed) <= fifo_frames) return wanted;
  if (PassesThrough(target_rate, speed)) return fifo_frames;
  // Each frame made reaches `step` source frames further; start from the estimate and settle.
  const double step = static_cast<double>(kEngineRate) / target_rate * speed;
  double reach = static_cast<double>(fifo_frames + pending_frames()) - 2.0 - phase_;
  uint64_t frames = reach < 0.0 ? 0 : std::min(wanted, static_cast<uint64_t>(reach / step) + 1);
  while (frames > 0 && FramesNeeded(target_rate, frames, speed) > fifo_frames) --frames;
  return frames;
}

uint64_t LinearResampler::Pull(SampleFifo* fifo, uint32_t target_rate, uint64_t frame_count,
                               std::vector<float>* out, double speed) {
  out->assign(2 * frame_count, 0.0f);
  if (fifo == nullptr || frame_count == 0 || target_rate == 0 || !(speed > 0.0)) return 0;
  if (PassesThrough(target_rate, speed)) {
    return frame_count - fifo->Read(out->data(), frame_count, true);
  }
  const double step = static_cast<double>(kEngineRate) / target_rate * speed;
  uint64_t lacking = TopUpFrames(fifo, FramesSpanned(frame_count, step));
  Produce(frame_count, step, out->data());
  return lacking;
}

}  // namespace zennic
