#include "bundle/manifest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "bundle/file_io.h"
#include "bundle/imx_container.h"
#include "bundle/manifest_fields.h"
#include "bundle/manifest_key.h"
#include "bundle/member_names.h"
#include "pool/pool.h"

namespace ko {
namespace {

constexpr const char* kFormat = "ko-bundle-v0";

bool hasScalar(std::string_view text, std::string_view key) {
  return manifest_key::scalarValuePos(text, key) != manifest_key::npos;
}

// The paste-space stamp under its current name, else its legacy name.
bool readStampSide(std::string_view text, std::string_view key, std::string_view alias, int32_t& out) {
  if (!hasScalar(text, key) && !hasScalar(text, alias)) return false;
  out = truncateToInt(numFieldEither(text, key, alias));
  return true;
}

bool missingStampAllowed() {
  return envEquals("VELMORA2_MSRC_MISSING_OK", "1");
}

void readPasteStamp(std::string_view text, Manifest& m) {
  int32_t width = 0;
  int32_t height = 0;
  const bool haveWidth = readStampSide(text, "M_src_w", "paste_source_width", width);
  const bool haveHeight = readStampSide(text, "M_src_h", "paste_source_height", height);
  if (haveWidth && haveHeight) {
    m.M_src_w = width;
    m.M_src_h = height;
  } else if (missingStampAllowed()) {
    std::fprintf(stderr,
                 "[ko] WARNING VELMORA2_MSRC_MISSING_OK=1: %s/manifest.json carries no paste-space stamp; "
                 "ASSUMING M was authored on this %dx%d canvas. If it was not, the face pastes off-target "
                 "(qd#144) and nothing will say so.\n",
                 m.dir.c_str(), m.W, m.H);
    m.M_src_w = m.W;
    m.M_src_h = m.H;
  } else {
    throw std::runtime_error(
        m.dir +
        "/manifest.json declares no paste-space stamp (M_src_w/M_src_h, aka paste_source_width/height) "
        "\u2014 "
        "the canvas is " +
        std::to_string(m.W) + "x" + std::to_string(m.H) +
        ", so M cannot be placed: absence is not evidence that M was authored at that size. Re-stamp the "
        "bundle (models/velmora-2/inference/backfill_msrc), or set VELMORA2_MSRC_MISSING_OK=1 to restore "
        "the legacy assumption.");
  }
  if (m.M_src_w < 1 || m.M_src_h < 1) {
    throw std::runtime_error("manifest: bad paste-space stamp (M_src_w/M_src_h must be > 0)");
  }
}

void readFigures(std::string_view text, Manifest& m) {
  m.NT = truncateToInt(numFieldEither(text, "NT", "frame_count"));
  m.H = truncateToInt(numField(text, "H"));
  m.W = truncateToInt(numField(text, "W"));
  m.crop = truncateToInt(numFieldEither(text, "crop", "crop_size"));
  m.amount = static_cast<float>(numField(text, "amount"));
  m.sigma = static_cast<float>(numField(text, "sigma"));
  m.ksize = truncateToInt(numField(text, "ksize"));
  m.frames = truncateToInt(numField(text, "frames"));
  if (m.NT < 1 || m.H < 1 || m.W < 1 || m.crop < 1) throw std::runtime_error("manifest: bad dims");
}

// A member name the manifest may override; an empty name is no name, so the default stays.
void readMemberName(std::string_view text, std::string_view key, std::string& name) {
  std::string named;
  if (optStr(text, key, named)) name = named;
}

void readMemberNames(std::string_view text, Manifest& m) {
  readMemberName(text, "target_frames", m.driverFrames);
  readMemberName(text, "target_frames_mp4", m.driverMovie);
  readMemberName(text, "P_rgb", m.priorRaw);
  readMemberName(text, "P_hevc", m.priorMovie);
}

}  // namespace

std::string Manifest::modelPath(const std::string& key) const {
  return resolveMember(dir, "model_" + key + ".onnx");
}

std::string Manifest::priorMovieMember() const {
  return priorMovie.empty() ? "P_hevc.mov" : priorMovie;
}

Manifest loadManifest(const std::string& bundlePath) {
  Manifest m;
  m.dir = resolveBundlePath(bundlePath);
  const std::string text = readFile(m.dir + "/manifest.json");
  std::string format;
  optStr(text, "format", format);
  if (format != kFormat) throw std::runtime_error("not an ko-bundle-v0: " + m.dir);
  m.agent = strField(text, "agent");
  readFigures(text, m);
  readPasteStamp(text, m);
  readMemberNames(text, m);
  const std::string lipPath = resolveMember(m.dir, "lip_template.v1.json");
  if (opensForReading(lipPath)) m.lipTemplate = readFile(lipPath);
  return m;
}

}  // namespace ko
