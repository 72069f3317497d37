#include "audio/motion_stream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "audio/motion_pose.h"
#include "audio/motion_rows.h"
#include "audio/row_walk.h"
#include "audio/window_norm.h"
#include "bundle/bundle.h"
#include "pool/pool.h"

namespace ko::motion {
namespace {

constexpr size_t kReleaseBytes = size_t{16} << 20;
constexpr int64_t kTrimRows = 128;
constexpr int64_t kTrimSamples = 81920;
constexpr int kLipPoints[] = {6, 12, 14, 17, 19, 20};

// Frames that stay unchanged by the next chunk: its blend starts at the last chunk's start + 70 and
// its seam smoothing one frame earlier, and serving a frame reads the frame after it.
int64_t settledFrames(int64_t chunks) {
  return chunks == 0 ? 0 : chunks * kChunkAdvance - 2;
}

std::vector<float> referenceMotionRow(const std::vector<float>& p) {
  std::vector<float> r(row::kWidth);
  r[row::kScale] = p[params::kScale] - 1.0f;
  std::copy_n(p.data() + params::kPitch, kBins, r.data() + row::kPitch);
  std::copy_n(p.data() + params::kYaw, kBins, r.data() + row::kYaw);
  std::copy_n(p.data() + params::kRoll, kBins, r.data() + row::kRoll);
  std::copy_n(p.data() + params::kT, 3, r.data() + row::kT);
  std::copy_n(p.data() + params::kExp, kKeypointValues, r.data() + row::kExp);
  return r;
}

std::string networkPath(const std::string& dir, const char* name) {
  const std::string path = dir + "/" + name;
  if (!opensForReading(path)) throw std::runtime_error("cannot open " + path);
  return path;
}

// scale * (kp * R + exp) + (tx, ty, 0) for every point.
void placeKeypoints(const float* params, const Rotation& r, const float* expression, float* out) {
  const float* kp = params + params::kKp;
  const float scale = params[params::kScale];
  const float shift[3] = {params[params::kT], params[params::kT + 1], 0.0f};
  for (int p = 0; p < kKeypoints; ++p) {
    for (int c = 0; c < 3; ++c) {
      const float rotated = kp[3 * p] * r[c] + kp[3 * p + 1] * r[3 + c] + kp[3 * p + 2] * r[6 + c];
      out[3 * p + c] = scale * (rotated + expression[3 * p + c]) + shift[c];
    }
  }
}

}  // namespace

MotionStream::MotionStream(const std::string& motionDir, int threads, const std::string& ep)
    : motionDir_(resolveBundlePath(motionDir)),
      tables_(readMotionTables(motionDir_)),
      mel_(tables_.window, tables_.melMatrix),
      reference_(referenceMotionRow(tables_.reference)),
      windowScratch_(kWindowSamples),
      melScratch_(kMelBands * kHops),
      studentScratch_(kStudentFrames * kSpeechFeatures),
      chunkFeatures_(static_cast<size_t>(kChunkFrames) * kFeatureValues),
      chunkRows_(static_cast<size_t>(kChunkFrames) * row::kWidth),
      condScratch_(row::kWidth),
      rowScratch_(row::kWidth),
      keypointScratch_(4 * kKeypointValues) {
  const float sourceScale = tables_.source[params::kScale];
  if (!(std::fabs(sourceScale) > 0) || !std::isfinite(sourceScale)) {
    throw std::runtime_error("src_xs_info.bin: source row 0 has scale " + std::to_string(sourceScale) +
                             ", which cannot scale the lip expression");
  }
  expressionGain_ = tables_.reference[params::kScale] / sourceScale;
  const Ort::SessionOptions options =
      motionSessionOptions(threads < 1 ? pool::threads() : threads, ep, motionDir_);
  student_ = Net::open(env_, networkPath(motionDir_, "hubert_student.onnx"), options, {kMelBands * kHops},
                       kStudentFrames * kSpeechFeatures);
  generator_ = Net::open(env_, networkPath(motionDir_, "lmdm.onnx"), options,
                         {row::kWidth, static_cast<size_t>(kChunkFrames) * kFeatureValues},
                         static_cast<size_t>(kChunkFrames) * row::kWidth);
  stitch_ = Net::open(env_, networkPath(motionDir_, "stitch.onnx"), options,
                      {kKeypointValues, kKeypointValues}, kKeypointValues);
  reset(0, 1, true);
}

void MotionStream::push(const float* samples, int64_t count) {
  if (count < 1) return;
  copyFiniteSamples(samples, static_cast<size_t>(count), audio_.appendRows(static_cast<size_t>(count)));
}

void MotionStream::finish() {
  if (!finished_) {
    finished_ = true;
    total_ = (audio_.end() + kSamplesPerFrame - 1) / kSamplesPerFrame;
  }
  if (!built_) advance();
}

int64_t MotionStream::advanceFrames() const {
  if (eager_ >= 1) return eager_;
  if (averageMs_ < 0) return 1;
  return std::clamp<int64_t>(static_cast<int64_t>(std::ceil(averageMs_ / 40.0)), 1, 8);
}

int64_t MotionStream::servable() const {
  if (built_) return total_;
  return finished_ ? std::min(settledFrames(chunks_), total_) : settledFrames(chunks_);
}

int64_t MotionStream::avail() {
  advanceIfDue();
  return servable() - pulled_;
}

void MotionStream::advanceIfDue() {
  if (finished_) {
    if (!built_) advance();
    return;
  }
  if (audio_.end() / kSamplesPerFrame - framesAtAdvance_ >= advanceFrames()) advance();
}

void MotionStream::advance() {
  const auto began = std::chrono::steady_clock::now();
  if (finished_) {
    while (windows_ * kWindowFrames < total_) processWindow();
    while (motion_.end() < total_) runChunk();
    buildFinal();
  } else {
    while ((windows_ * kWindowFrames) * kSamplesPerFrame + kWindowSamples - kWindowLead <= audio_.end()) {
      processWindow();
    }
    while (features_.end() >= chunks_ * kChunkAdvance + kChunkFrames) runChunk();
  }
  framesAtAdvance_ = audio_.end() / kSamplesPerFrame;
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
  averageMs_ = averageMs_ < 0 ? ms : 0.7 * averageMs_ + 0.3 * ms;
  trim();
}

void MotionStream::windowSamples(int64_t w, float* out) const {
  const int64_t first = w * kSamplesPerFrame - kWindowLead;
  for (int i = 0; i < kWindowSamples; ++i) {
    const int64_t s = first + i;
    out[i] = audio_.holds(s) ? audio_.row(s)[0] : 0.0f;
  }
}

void MotionStream::processWindow() {
  const int64_t w = windows_ * kWindowFrames;
  if (std::max<int64_t>(0, w * kSamplesPerFrame - kWindowLead) < audio_.dropped())
    throw std::logic_error("window audio dropped");
  windowSamples(w, windowScratch_.data());
  mel_.logMel(windowScratch_.data(), melScratch_.data());
  student_.run({melScratch_.data()}, studentScratch_.data(), networkTime_);
  float* rows = features_.appendRows(kWindowFrames);
  for (int f = 0; f < kWindowFrames; ++f) {
    float* out = rows + f * kFeatureValues;
    const float* a = studentScratch_.data() + (kStudentSkip + 2 * f) * kSpeechFeatures;
    const float* b = a + kSpeechFeatures;
    for (int j = 0; j < kSpeechFeatures; ++j) {
      const float first = a[j] * tables_.featStd[j] + tables_.featMean[j];
      const float second = b[j] * tables_.featStd[j] + tables_.featMean[j];
      out[j] = (first + second) * 0.5f;
    }
    const int64_t emotion = (w + f) % tables_.meta.nEmo;
    float* channels =
        std::copy_n(tables_.emotion.data() + emotion * kEmotionValues, kEmotionValues, out + kSpeechFeatures);
    channels = std::copy(tables_.eyeOpen.begin(), tables_.eyeOpen.end(), channels);
    channels = std::copy(tables_.eyeBall.begin(), tables_.eyeBall.end(), channels);
    std::copy(tables_.sc.begin(), tables_.sc.end(), channels);
  }
  if (!dumpedWindow_ && dump_.on()) {
    dump_.write("mel0.bin", melScratch_.data(), melScratch_.size());
    dump_.write("feat0.bin", rows, static_cast<size_t>(kWindowFrames) * kFeatureValues);
    dumpedWindow_ = true;
  }
  ++windows_;
}

void MotionStream::runChunk() {
  const int64_t s = chunks_ * kChunkAdvance;
  // After the end of the audio the last frame's features stand in for the frames the chunk overhangs.
  const int64_t last = finished_ ? total_ - 1 : features_.end() - 1;
  for (int i = 0; i < kChunkFrames; ++i) {
    const int64_t f = std::min<int64_t>(s + i, last);
    if (!features_.holds(f)) throw std::logic_error("generator chunk reads a feature row not held");
    std::copy_n(features_.row(f), kFeatureValues, chunkFeatures_.data() + i * kFeatureValues);
  }
  std::vector<float>& cond = condScratch_;
  if (chunks_ == 0) {
    cond = reference_;
  } else {
    conditioningRow(motion_, motion_.end(), reference_, cond.data());
  }
  generator_.run({cond.data(), chunkFeatures_.data()}, chunkRows_.data(), networkTime_);
  if (dump_.on()) {
    if (!dumpedChunk_) {
      dump_.write("lmdm0_kp.bin", cond.data(), cond.size());
      dump_.write("lmdm0_aud.bin", chunkFeatures_.data(), chunkFeatures_.size());
      dump_.write("lmdm0_pred.bin", chunkRows_.data(), chunkRows_.size());
      dumpedChunk_ = true;
    }
    dump_.append("cond.bin", cond.data(), cond.size());
  }
  addChunk(motion_, chunkRows_.data());
  ++chunks_;
}

void MotionStream::buildFinal() {
  finalFirst_ = std::min(motion_.dropped(), total_);
  final_.resize(static_cast<size_t>(total_ - finalFirst_) * row::kWidth);
  for (int64_t f = finalFirst_; f < total_; ++f) {
    float* out = final_.data() + (f - finalFirst_) * row::kWidth;
    smoothedRow(motion_, finalFirst_, total_, f, out);
    clampRow(out, tables_.lower, tables_.upper);
  }
  if (dump_.on() && total_ > finalFirst_) {
    dump_.write("res_post.bin", motion_.row(finalFirst_), final_.size());
    dump_.write("final.bin", final_.data(), final_.size());
  }
  built_ = true;
}

void MotionStream::servedRow(int64_t f, float* out) {
  if (built_) {
    std::copy_n(finalRow(f), row::kWidth, out);
    return;
  }
  smoothedRow(motion_, motion_.dropped(), motion_.end(), f, out);
  clampRow(out, tables_.lower, tables_.upper);
}

int64_t MotionStream::pull(int32_t* rows, float* xs, float* kp, int64_t max) {
  advanceIfDue();
  const int64_t first = pulled_;
  const int64_t count = std::clamp<int64_t>(servable() - pulled_, 0, std::max<int64_t>(max, 0));
  try {
    for (int64_t j = 0; j < count; ++j, ++pulled_) {
      const int64_t r = walkRow(pulled_, start_, walkDir_, loop_, tables_.meta.nt);
      servedRow(pulled_, rowScratch_.data());
      emitFrame(rowScratch_.data(), r, xs + j * kKeypointValues, kp + j * kKeypointValues);
      rows[j] = static_cast<int32_t>(r);
    }
  } catch (...) {
    // The frames of a failed call are served again by the next one.
    pulled_ = first;
    if (first == 0) referenceExp_.clear();
    throw;
  }
  trim();
  return count;
}

void MotionStream::emitFrame(const float* motionRow, int64_t sourceRow, float* xs, float* kp) {
  const float* source = tables_.source.data() + sourceRow * params::kWidth;
  const float pitch = bin66(source + params::kPitch), yaw = bin66(source + params::kYaw),
              roll = bin66(source + params::kRoll);
  const float* motionExp = motionRow + row::kExp;
  if (referenceExp_.empty()) referenceExp_.assign(motionExp, motionExp + kKeypointValues);
  float* expression = keypointScratch_.data();
  float* sourceKp = expression + kKeypointValues;
  float* drivenKp = sourceKp + kKeypointValues;
  float* stitched = drivenKp + kKeypointValues;
  std::copy_n(source + params::kExp, kKeypointValues, expression);
  for (int point : kLipPoints) {
    for (int j = 3 * point; j < 3 * point + 3; ++j) {
      expression[j] += (motionExp[j] - referenceExp_[j]) * expressionGain_;
    }
  }
  placeKeypoints(source, poseToR(pitch, yaw, roll), source + params::kExp, sourceKp);
  placeKeypoints(source, poseToR(pitch + tables_.meta.deltaPitch, yaw, roll), expression, drivenKp);
  stitch_.run({sourceKp, drivenKp}, stitched, networkTime_);
  const float* idle = tables_.xsTarget.data() + sourceRow * kKeypointValues;
  for (int j = 0; j < kKeypointValues; ++j) {
    xs[j] = idle[j];
    kp[j] = idle[j] + tables_.meta.sBridge * (stitched[j] - sourceKp[j]);
  }
  if (dump_.on()) {
    dump_.append("xs.bin", sourceKp, kKeypointValues);
    dump_.append("xd.bin", drivenKp, kKeypointValues);
    dump_.append("xsla.bin", xs, kKeypointValues);
    dump_.append("xdla.bin", kp, kKeypointValues);
  }
}

void MotionStream::trim() {
  audio_.dropBefore(std::max<int64_t>(0, windows_ * kWindowFrames * kSamplesPerFrame - kWindowLead),
                    kTrimSamples);
  features_.dropBefore(chunks_ * kChunkAdvance, kTrimRows);
  motion_.dropBefore(std::max<int64_t>(0, std::min(pulled_ - 1, motion_.end() - (kBlendFrames + 2))),
                     kTrimRows);
}

void MotionStream::reset(int64_t start, int dir, bool loop) {
  audio_.reset(kReleaseBytes);
  features_.reset(kReleaseBytes);
  motion_.reset(kReleaseBytes);
  std::vector<float>().swap(final_);
  finalFirst_ = 0;
  finished_ = built_ = false;
  total_ = windows_ = chunks_ = pulled_ = framesAtAdvance_ = 0;
  referenceExp_.clear();
  start_ = std::clamp<int64_t>(start, 0, tables_.meta.nt - 1);
  walkDir_ = dir < 0 ? -1 : 1;
  loop_ = loop;
}

}  // namespace ko::motion
