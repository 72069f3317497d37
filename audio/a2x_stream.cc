#include "audio/a2x_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "audio/a2x_meta.h"
#include "audio/ort_sessions.h"
#include "audio/row_walk.h"
#include "audio/window_norm.h"
#include "bundle/bundle.h"
#include "pool/pool.h"

namespace ko {
namespace {

constexpr int64_t kLegacyStep = 64;          // frames per avail() step and per encoder band
constexpr int64_t kWholeUtteranceBand = 24;  // encoder band of deltas()
constexpr int64_t kTrimRows = 128;
constexpr int64_t kTrimSamples = 81920;
constexpr size_t kReleaseBytes = size_t{16} << 20;
constexpr int64_t kMaxPrimeFrames = 200;
constexpr int64_t kDefaultRight = 12;

std::vector<float> readFloats(const std::string& path) {
  std::string bytes;
  try {
    bytes = readFile(path);
  } catch (const std::exception&) {
    return {};
  }
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

void a2x_say_cadence(int threads) {
  static std::once_flag once;
  std::call_once(once, [threads] {
    std::fprintf(
        stderr,
        "[ko_a2x] live cadence: block-%d (one trunk window per %d frames), push-size invariant, threads=%d\n",
        kBlockFrames * 1000 / 25, kBlockFrames, threads);
  });
}

int64_t rightFromEnvironment() {
  const std::optional<int64_t> value = envInteger("KO_A2X_W2V_RIGHT");
  if (!value) return kDefaultRight;
  return std::clamp<int64_t>(*value, 0, 1 << 20);
}

float* tensorFloats(Ort::Value& value, size_t expected, const char* what) {
  const Ort::TensorTypeAndShapeInfo info = value.GetTensorTypeAndShapeInfo();
  if (info.GetElementType() != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT || info.GetElementCount() != expected) {
    throw std::runtime_error(std::string(what) + " holds " + std::to_string(info.GetElementCount()) +
                             " values, not " + std::to_string(expected) + " floats");
  }
  return value.GetTensorMutableData<float>();
}

}  // namespace

struct A2xStream::Networks {
  Ort::Env env{ORT_LOGGING_LEVEL_WARNING, "ko_a2x"};
  Ort::SessionOptions options{nullptr};
  Ort::MemoryInfo cpu = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  std::unique_ptr<Ort::Session> encoder;
  std::unique_ptr<Ort::Session> decoder;
  std::string hiddenName;
  std::string wnName;
  std::vector<float> mask;
  std::vector<float> positions;
  std::vector<float> decodedPrev;
  std::vector<float> decodedState;
  bool decoderChecked = false;
};

A2xStream::A2xStream(const std::string& bundle, int threads, SpeechEncoder& encoder)
    : features(encoder, "", threads < 1 || threads >= pool::threads() ? pool::threads() : threads, 0),
      hidden(1),
      nets(std::make_unique<Networks>()) {
  const int threadCount = features.threads;
  nets->options = audioSessionOptions(threadCount, "enc/dec");
  a2x_say_cadence(threadCount);

  const std::string bundleDir = resolveBundlePath(bundle);
  std::string meta;
  try {
    meta = readFile(bundleDir + "/a2x_meta.json");
  } catch (const std::exception&) {
    throw std::runtime_error("a2x_meta.json missing in " + bundleDir);
  }
  h = json_int(meta, "h", 256);
  window = json_int(meta, "window", -1);
  left = json_int(meta, "left", -1);
  if (window < 0 || left < 0) throw std::runtime_error("meta lacks causal window/left (not a streaming a2x)");
  const int64_t layers = json_int(meta, "layers", 6);
  if (h < 1 || h > (1 << 20))
    throw std::runtime_error("a2x_meta.json: h " + std::to_string(h) + " is not a width");
  if (layers < 0 || window > (1 << 16) || left > (1 << 16) || layers > (1 << 10)) {
    throw std::runtime_error("a2x_meta.json: window/left/layers " + std::to_string(window) + "/" +
                             std::to_string(left) + "/" + std::to_string(layers) + " out of range");
  }
  ctxLeft = left * layers;
  ctxRight = window * layers;
  features.right = static_cast<int>(rightFromEnvironment());
  lookahead = features.right;

  pos = readFloats(bundleDir + "/a2x_pos.f32");
  std::vector<float> norm = readFloats(bundleDir + "/a2x_norm.f32");
  xsTarget = readFloats(resolveMember(bundleDir, "xs_target.bin"));
  // A table shorter than one keypoint row would leave the idle rows unreadable.
  if (pos.size() < static_cast<size_t>(2 * h) || norm.size() < 2 * kKeypointValues ||
      xsTarget.size() < kKeypointValues) {
    throw std::runtime_error("pos/norm/xs_target read failed");
  }
  P = static_cast<int64_t>(pos.size()) / h;
  normMean.assign(norm.begin(), norm.begin() + kKeypointValues);
  normStd.assign(norm.begin() + kKeypointValues, norm.begin() + 2 * kKeypointValues);
  NT = static_cast<int64_t>(xsTarget.size()) / kKeypointValues;
  hidden = RowBuffer(static_cast<size_t>(h));

  const std::optional<std::string> w2v = envNonEmpty("W2V_ONNX");
  if (!w2v) throw std::runtime_error("$W2V_ONNX not set");
  features.w2vPath = *w2v;
  if (encoder.get_shared_w2v_win(threadCount, features.w2vPath)) {
    features.windowMode = true;
    lookahead = features.right + kBlockFrames;
  } else if (!encoder.get_shared_w2v(features.w2vPath, threadCount)) {
    throw std::runtime_error("shared w2v load failed");
  }

  nets->encoder = std::make_unique<Ort::Session>(
      nets->env, resolveMember(bundleDir, "a2x_enc_stream.onnx").c_str(), nets->options);
  nets->hiddenName = outputName(*nets->encoder, 0);
  const size_t outputs = nets->encoder->GetOutputCount();
  if (outputs > 1) {
    nets->wnName = outputName(*nets->encoder, 1);
    hasWn_ = true;
  }
  const int metaWidth = json_flag(meta, "width", 0);
  if (metaWidth != (hasWn_ ? 1 : 0)) {
    std::fprintf(
        stderr,
        "[ko_a2x] WARNING: a2x_meta width=%d but the encoder declares %zu output(s) — serving the GRAPH "
        "(width=%d). Repackage this bundle.\n",
        metaWidth, outputs, hasWn_ ? 1 : 0);
  }
  nets->decoder = std::make_unique<Ort::Session>(nets->env, resolveMember(bundleDir, "a2x_dec.onnx").c_str(),
                                                 nets->options);

  int64_t primeFrames = json_int(meta, "silence_prime", 0);
  if (const std::optional<int64_t> override = envInteger("KO_A2X_SILENCE_PRIME")) primeFrames = *override;
  if (primeFrames > 0) {
    if (!encoder.get_shared_w2v(features.w2vPath, threadCount)) {
      throw std::runtime_error("shared w2v load failed (silence_prime)");
    }
    prime_silence(primeFrames);
  }
  reset(0, 1, 1);
}

A2xStream::~A2xStream() = default;

void A2xStream::push(const float* samples, int64_t count) {
  if (count < 1) return;
  copyFiniteSamples(samples, static_cast<size_t>(count),
                    features.audio.appendRows(static_cast<size_t>(count)));
}

int64_t A2xStream::total() const {
  if (!features.finished) return -1;
  return (features.samplesPushed() + kSamplesPerFrame - 1) / kSamplesPerFrame;
}

// A frame's hidden vector needs feature rows ctxRight frames ahead, and each feature row needs
// `lookahead` frames of audio beyond it, so a live frame is served once both fit in the usable audio.
int64_t A2xStream::frameTarget() const {
  const int64_t frames = features.usableFrames();
  if (features.finished) return frames;
  return std::max<int64_t>(0, frames - ctxRight - lookahead);
}

int64_t A2xStream::avail() {
  const int64_t step = features.windowMode ? kBlockFrames : kLegacyStep;
  const int64_t target = frameTarget();
  if (produced < target) extend(std::min(produced + step, target));
  return std::max<int64_t>(0, produced - pulled);
}

void A2xStream::extend(int64_t goal) {
  goal = std::min(goal, frameTarget());
  if (goal <= produced) return;
  try {
    features.fill(std::min(features.usableFrames(), goal + ctxRight));
    encodeTo(goal);
    decodeTo(goal);
  } catch (const std::exception& error) {
    extendFailure = error.what();
  }
}

void A2xStream::encodeTo(int64_t goal) {
  const int64_t frames = features.usableFrames();
  while (encoded < goal) {
    const int64_t b = encoded;
    int64_t e = std::min(goal, b + kLegacyStep);
    const int64_t c = std::max<int64_t>(0, b - ctxLeft);
    int64_t w = std::min(frames, e + ctxRight);
    if (b < P) {
      e = std::min(e, P);
      w = std::min(w, P);
    }
    if (c < features.feat.dropped() || b < hidden.dropped()) throw behind("encoder band");
    if (w > features.featEnd) throw std::logic_error("encoder band reads feature rows not computed yet");
    hidden.growTo(e);
    if (hasWn_) wnRows.growTo(e);
    encodeBand(features.feat.row(c), c, w, b, e, hidden.row(b), hasWn_ ? wnRows.row(b) : nullptr);
    encoded = e;
  }
}

// The decoder's state moves with `produced`: a failed step leaves both as they were, so a later
// call decodes the same frames from the same state.
void A2xStream::decodeTo(int64_t goal) {
  nets->decodedPrev = prev;
  nets->decodedState = state;
  for (int64_t f = produced; f < goal; ++f) {
    if (f < hidden.dropped() || f < deltaRows.dropped()) throw behind("decoder frame");
    decodeStep(hidden.row(f), nets->decodedPrev.data(), nets->decodedState.data());
    deltaRows.growTo(f + 1);
    float* delta = deltaRows.row(f);
    for (int j = 0; j < kKeypointValues; ++j) delta[j] = nets->decodedPrev[j] * normStd[j] + normMean[j];
  }
  prev.swap(nets->decodedPrev);
  state.swap(nets->decodedState);
  produced = goal;
}

void A2xStream::encodeBand(const float* featRows, int64_t c, int64_t w, int64_t b, int64_t e,
                           float* hiddenOut, float* wnOut) {
  const int64_t L = w - c;
  std::vector<float>& mask = nets->mask;
  mask.resize(static_cast<size_t>(L * L));
  const float blocked = -std::numeric_limits<float>::infinity();
  for (int64_t i = 0; i < L; ++i) {
    for (int64_t j = 0; j < L; ++j) mask[i * L + j] = j > i + window || j < i - left ? blocked : 0.0f;
  }
  std::vector<float>& positions = nets->positions;
  positions.resize(static_cast<size_t>(L * h));
  const int64_t half = P / 2;
  for (int64_t t = c; t < w; ++t) {
    const int64_t row = t < P ? t : half + (t - P) % (P - half);
    std::copy_n(pos.data() + row * h, h, positions.data() + (t - c) * h);
  }
  const int64_t featShape[] = {1, L, kFeatureLayers, kFeatureWidth};
  const int64_t posShape[] = {1, L, h};
  const int64_t maskShape[] = {1, 1, L, L};
  Ort::Value inputs[] = {
      Ort::Value::CreateTensor<float>(nets->cpu, const_cast<float*>(featRows),
                                      static_cast<size_t>(L) * kFeatureRow, featShape, 4),
      Ort::Value::CreateTensor<float>(nets->cpu, positions.data(), positions.size(), posShape, 3),
      Ort::Value::CreateTensor<float>(nets->cpu, mask.data(), mask.size(), maskShape, 4)};
  const char* inputNames[] = {"feat", "pos_window", "attn"};
  const char* outputNames[] = {nets->hiddenName.c_str(), nets->wnName.c_str()};
  Ort::Value outputs[] = {Ort::Value{nullptr}, Ort::Value{nullptr}};
  {
    RunTimer timer(networkTime);
    nets->encoder->Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, outputs, wnOut ? 2 : 1);
  }
  const float* hiddenRows =
      tensorFloats(outputs[0], static_cast<size_t>(L * h), "a2x_enc_stream.onnx's hidden output");
  std::copy(hiddenRows + (b - c) * h, hiddenRows + (e - c) * h, hiddenOut);
  if (wnOut) {
    const float* wn = tensorFloats(outputs[1], static_cast<size_t>(L), "a2x_enc_stream.onnx's wn output");
    std::copy(wn + (b - c), wn + (e - c), wnOut);
  }
}

void A2xStream::decodeStep(const float* ctx, float* prevIo, float* stateIo) {
  const int64_t ctxShape[] = {1, h};
  const int64_t prevShape[] = {1, kKeypointValues};
  const int64_t stateShape[] = {1, 1, h};
  Ort::Value inputs[] = {
      Ort::Value::CreateTensor<float>(nets->cpu, const_cast<float*>(ctx), static_cast<size_t>(h), ctxShape,
                                      2),
      Ort::Value::CreateTensor<float>(nets->cpu, prevIo, kKeypointValues, prevShape, 2),
      Ort::Value::CreateTensor<float>(nets->cpu, stateIo, static_cast<size_t>(h), stateShape, 3)};
  const char* inputNames[] = {"ctx_t", "prev", "h"};
  const char* outputNames[] = {"m", "h_out"};
  Ort::Value outputs[] = {Ort::Value{nullptr}, Ort::Value{nullptr}};
  {
    RunTimer timer(networkTime);
    nets->decoder->Run(Ort::RunOptions{nullptr}, inputNames, inputs, 3, outputNames, outputs, 2);
  }
  // Every step feeds the same shapes, so the outputs' sizes are checked on the first one only.
  if (!nets->decoderChecked) {
    tensorFloats(outputs[0], kKeypointValues, "a2x_dec.onnx's \"m\"");
    tensorFloats(outputs[1], static_cast<size_t>(h), "a2x_dec.onnx's \"h_out\"");
    nets->decoderChecked = true;
  }
  const float* m = outputs[0].GetTensorData<float>();
  const float* next = outputs[1].GetTensorData<float>();
  std::copy_n(m, kKeypointValues, prevIo);
  std::copy_n(next, h, stateIo);
}

int64_t A2xStream::targetRow(int64_t frame) const {
  return walkRow(frame, start, dir, loop != 0, NT);
}

int64_t A2xStream::pull(int32_t* idx, float* xs, float* kp, float* wn, int64_t max) {
  const int64_t target = frameTarget();
  if (pulled >= produced) extend(std::min(pulled + max, target));
  const int64_t limit = std::min(target, produced);
  if (max < 1 || limit <= pulled) return 0;
  int64_t written = 0;
  for (; written < max && pulled < limit; ++written, ++pulled) {
    const int64_t row = targetRow(pulled);
    const float* idle = xsTarget.data() + row * kKeypointValues;
    const float* delta = deltaRows.row(pulled);
    idx[written] = static_cast<int32_t>(row);
    std::copy_n(idle, kKeypointValues, xs + written * kKeypointValues);
    for (int j = 0; j < kKeypointValues; ++j) kp[written * kKeypointValues + j] = idle[j] + delta[j];
    if (wn) wn[written] = hasWn_ && wnRows.holds(pulled) ? wnRows.row(pulled)[0] : 0.0f;
  }
  trim();
  return written;
}

void A2xStream::trim() {
  features.audio.dropBefore(std::max<int64_t>(0, features.featStart * kSamplesPerFrame - kShortWindowSamples),
                            kTrimSamples);
  features.feat.dropBefore(std::clamp<int64_t>(encoded - ctxLeft, 0, features.featEnd), kTrimRows);
  const int64_t hiddenKeep = std::min(pulled, produced);
  hidden.dropBefore(hiddenKeep, kTrimRows);
  wnRows.dropBefore(hiddenKeep, kTrimRows);
  deltaRows.dropBefore(pulled, kTrimRows);
}

void A2xStream::reset(int64_t newStart, int newDir, int newLoop) {
  const int64_t from = newStart < 0 ? targetRow(pulled) : newStart;
  features.reset(kReleaseBytes);
  hidden.reset(kReleaseBytes);
  wnRows.reset(kReleaseBytes);
  deltaRows.reset(kReleaseBytes);
  encoded = produced = pulled = 0;
  initialDecoderState(prev, state);
  start = from;
  loop = newLoop;
  dir = newDir < 0 ? -1 : 1;
}

void A2xStream::initialDecoderState(std::vector<float>& prevOut, std::vector<float>& stateOut) const {
  if (!primedPrev.empty() && !primedState.empty()) {
    prevOut = primedPrev;
    stateOut = primedState;
  } else {
    prevOut.assign(kKeypointValues, 0.0f);
    stateOut.assign(static_cast<size_t>(h), 0.0f);
  }
}

void A2xStream::prime_silence(int64_t frames) {
  const int64_t n = std::min(frames, kMaxPrimeFrames);
  try {
    const std::vector<float>& zero = features.encoder.zero_window_emb(features.w2v8());
    std::vector<float> rows(static_cast<size_t>(n) * kFeatureRow);
    for (int64_t k = 0; k < n; ++k) {
      for (int64_t layer = 0; layer < kFeatureLayers; ++layer) {
        const float* src = zero.data() + layer * kLegacyWindowFrames * kFeatureWidth + k * kFeatureWidth;
        std::copy_n(src, kFeatureWidth, rows.data() + k * kFeatureRow + layer * kFeatureWidth);
      }
    }
    std::vector<uint16_t> halves;
    roundThroughHalves(rows.data(), rows.data(), rows.size(), halves);
    std::vector<float> hiddenRows(static_cast<size_t>(n * h));
    std::vector<float> wn(static_cast<size_t>(n));
    encodeBand(rows.data(), 0, n, 0, n, hiddenRows.data(), hasWn_ ? wn.data() : nullptr);
    std::vector<float> p(kKeypointValues, 0.0f);
    std::vector<float> s(static_cast<size_t>(h), 0.0f);
    for (int64_t k = 0; k < n; ++k) decodeStep(hiddenRows.data() + k * h, p.data(), s.data());
    primedPrev = std::move(p);
    primedState = std::move(s);
    std::fprintf(stderr, "[ko_a2x] silence-primed AR state cached (%d frames)\n", static_cast<int>(n));
  } catch (const std::exception& error) {
    primedPrev.clear();
    primedState.clear();
    std::fprintf(stderr, "[ko_a2x] silence-prime failed (%s) -- legacy zero state\n",
                 oneLine(error.what()).c_str());
  }
}

int64_t A2xStream::deltas(const float* samples, int64_t count, float* out, int64_t maxFrames) {
  if (count <= 0) return 0;
  const int64_t frames = (count + kSamplesPerFrame - 1) / kSamplesPerFrame;
  if (frames > maxFrames) return -2;
  SpeechFeatures whole(features.encoder, features.w2vPath, features.threads, features.right);
  copyFiniteSamples(samples, static_cast<size_t>(count), whole.audio.appendRows(static_cast<size_t>(count)));
  whole.finished = true;
  whole.fill_feat(frames);
  std::vector<float> hiddenRows(static_cast<size_t>(frames * h));
  std::vector<float> wn(static_cast<size_t>(frames), 0.0f);
  for (int64_t b = 0; b < frames; b += kWholeUtteranceBand) {
    const int64_t e = std::min(frames, b + kWholeUtteranceBand);
    const int64_t c = std::max<int64_t>(0, b - ctxLeft);
    const int64_t w = std::min(frames, e + ctxRight);
    encodeBand(whole.feat.row(c), c, w, b, e, hiddenRows.data() + b * h, hasWn_ ? wn.data() + b : nullptr);
  }
  uttWn = hasWn_ ? std::move(wn) : std::vector<float>();
  std::vector<float> p, s;
  initialDecoderState(p, s);
  for (int64_t f = 0; f < frames; ++f) {
    decodeStep(hiddenRows.data() + f * h, p.data(), s.data());
    for (int j = 0; j < kKeypointValues; ++j) out[f * kKeypointValues + j] = p[j] * normStd[j] + normMean[j];
  }
  return frames;
}

}  // namespace ko
