#include "audio/motion_tables.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "audio/motion_layout.h"
#include "bundle/bundle.h"

namespace ko::motion {
namespace {

const char* skipBlanks(const char* at) {
  while (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r') ++at;
  return at;
}

int64_t metaCount(const std::string& text, const char* key) {
  const double value = metaNumber(text, key);
  if (!(value >= 1 && value <= (1 << 30)) || value != std::floor(value)) {
    throw std::runtime_error(std::string("meta.json: bad ") + key);
  }
  return static_cast<int64_t>(value);
}

float metaFloat(const std::string& text, const char* key) {
  const double value = metaNumber(text, key);
  if (!std::isfinite(static_cast<float>(value)))
    throw std::runtime_error(std::string("meta.json: bad ") + key);
  return static_cast<float>(value);
}

size_t rows(int64_t count, int width) {
  return static_cast<size_t>(count) * static_cast<size_t>(width);
}

}  // namespace

double metaNumber(const std::string& text, const char* key) {
  const std::string quoted = std::string("\"") + key + "\"";
  const size_t at = text.find(quoted);
  if (at == std::string::npos) throw std::runtime_error(std::string("meta.json: missing ") + key);
  const char* colon = skipBlanks(text.c_str() + at + quoted.size());
  if (*colon != ':') throw std::runtime_error(std::string("meta.json: bad ") + key);
  const char* number = skipBlanks(colon + 1);
  char* stop = nullptr;
  const double value = std::strtod(number, &stop);
  if (stop == number) throw std::runtime_error(std::string("meta.json: bad ") + key);
  return value;
}

MotionMeta parseMotionMeta(const std::string& text) {
  MotionMeta meta;
  meta.nt = metaCount(text, "nt");
  meta.nSrc = metaCount(text, "n_src");
  meta.nEmo = metaCount(text, "n_emo");
  meta.sBridge = metaFloat(text, "s_bridge");
  if (text.find("\"delta_pitch\"") != std::string::npos) meta.deltaPitch = metaFloat(text, "delta_pitch");
  if (meta.nSrc != meta.nt) throw std::runtime_error("ko_motion: n_src != nt unsupported");
  return meta;
}

std::vector<float> readFloats(const std::string& path, size_t want) {
  File file = openFile(path, "rb");
  if (!file) throw std::runtime_error("cannot open " + path);
  std::vector<float> values(want);
  const size_t got = want == 0 ? 0 : std::fread(values.data(), sizeof(float), want, file.get());
  if (got != want) {
    throw std::runtime_error("short read " + path + ": " + std::to_string(got) + " floats, expected " +
                             std::to_string(want));
  }
  return values;
}

MotionTables readMotionTables(const std::string& dir) {
  MotionTables t;
  t.meta = parseMotionMeta(readText(dir + "/meta.json"));
  const auto table = [&dir](const char* name, size_t want) { return readFloats(dir + "/" + name, want); };
  t.window = table("hubert_stft_window.bin", kFftSize);
  t.melMatrix = table("hubert_stft_binmat.bin", rows(kFftBins, kMelBands));
  t.featMean = table("hubert_fmean.bin", kSpeechFeatures);
  t.featStd = table("hubert_fstd.bin", kSpeechFeatures);
  t.emotion = table("emo.bin", rows(t.meta.nEmo, kEmotionValues));
  t.reference = table("ch_xs_info.bin", params::kWidth);
  t.sc = table("ch_sc.bin", kScValues);
  t.eyeOpen = table("ch_eye_open.bin", kEyeOpenValues);
  t.eyeBall = table("ch_eye_ball.bin", kEyeBallValues);
  const std::vector<float> bounds = table("v_min_max.bin", 2 * row::kWidth);
  t.lower.assign(bounds.begin(), bounds.begin() + row::kWidth);
  t.upper.assign(bounds.begin() + row::kWidth, bounds.end());
  t.source = table("src_xs_info.bin", rows(t.meta.nSrc, params::kWidth));
  t.xsTarget = readFloats(resolveMember(dir, "xs_target.bin"), rows(t.meta.nt, kKeypointValues));
  return t;
}

}  // namespace ko::motion
