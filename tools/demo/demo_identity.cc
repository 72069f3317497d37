#include "tools/demo/demo_identity.h"

#include <cmath>
#include <vector>

#include "simd/half.h"
#include "tools/authoring/compose_v2_structure.h"
#include "tools/authoring/lip_template.h"
#include "tools/demo/demo_director.h"
#include "tools/demo/demo_face.h"
#include "tools/demo/demo_fca.h"
#include "tools/demo/demo_keypoints.h"
#include "tools/demo/demo_lips.h"
#include "tools/demo/demo_motion.h"
#include "tools/demo/demo_scene.h"
#include "tools/demo/demo_teeth.h"
#include "tools/media/movie_encoder.h"

namespace ko::demo {
namespace {

constexpr size_t kPooledRowHalves = 64 * 32 * 32;

std::string priorBytes(const DemoRecipe& r) {
  std::vector<uint16_t> halves;
  halves.reserve(static_cast<size_t>(r.NT) * 3 * static_cast<size_t>(r.crop) * static_cast<size_t>(r.crop));
  for (int si = 0; si < r.NT; ++si) {
    const PasteTransform M = pasteTransform(r, si);
    // Behind the head, the crop shows the wall exactly where the paste will put it.
    const Backdrop wall = [&](double x, double y) {
      const double cx = (x + 1.0) * 0.5 * r.crop - 0.5, cy = (y + 1.0) * 0.5 * r.crop - 0.5;
      return wallColour(r, M[0] * cx + M[1] * cy + M[2], M[3] * cx + M[4] * cy + M[5]);
    };
    for (const float value : paintFace(r.crop, sourceLight(r, si), wall)) halves.push_back(f32ToF16(value));
  }
  return authoring::memberBytes(halves);
}

// Pairs of opposite values, so each row's mean is exactly zero in any order of summation (every
// partial sum is a small multiple of 1/8) and the director's pooled touch vanishes; rows differ.
std::string pooledBytes(const DemoRecipe& r) {
  std::vector<uint16_t> halves;
  halves.reserve(static_cast<size_t>(r.NT) * kPooledRowHalves);
  for (int si = 0; si < r.NT; ++si) {
    for (size_t i = 0; i < kPooledRowHalves; i += 2) {
      const float value = static_cast<float>(1 + (i / 2 + static_cast<size_t>(si)) % 3) * 0.125f;
      halves.push_back(f32ToF16(value));
      halves.push_back(f32ToF16(-value));
    }
  }
  return authoring::memberBytes(halves);
}

std::string transformBytes(const DemoRecipe& r) {
  std::vector<float> values;
  for (int si = 0; si < r.NT; ++si) {
    const PasteTransform M = pasteTransform(r, si);
    values.insert(values.end(), M.begin(), M.end());
  }
  return authoring::memberBytes(values);
}

// A ping-pong walk over the source frames, up to the last and back once over the loop, so its last
// row leads into its first without a jump; it moves at most one frame a row while NT <= frames / 2.
int32_t pingPong(int row, int frames, int NT) {
  const double climb = 1.0 - std::abs(2.0 * row / frames - 1.0);
  return static_cast<int32_t>(std::lround(climb * (NT - 1)));
}

struct IdleTables {
  std::vector<float> xs;
  std::vector<float> xd;
  std::vector<int32_t> si;
};

IdleTables idleTables(const DemoRecipe& r) {
  IdleTables tables;
  const std::vector<float> neutral = neutralKeypoints();
  for (int row = 0; row < r.frames; ++row) {
    const std::vector<float> driven = posedKeypoints(idlePose(row, r.frames));
    tables.xs.insert(tables.xs.end(), neutral.begin(), neutral.end());
    tables.xd.insert(tables.xd.end(), driven.begin(), driven.end());
    tables.si.push_back(pingPong(row, r.frames, r.NT));
  }
  return tables;
}

// The lip contour that narrows the director's compose ellipse to the painted lips, with the compose v2
// graph for this director, so the renderer splices it rather than binding the contour itself.
std::string lipTemplate(const DemoRecipe& r, const std::vector<uint8_t>& director) {
  authoring::LipTemplateSpec lips;
  lips.canvas = r.crop;
  lips.featherPx = kLipFeatherAt512 * r.crop / 512.0;
  lips.uCanon = demoLipOutline();
  for (const int64_t site : demoLipSites()) lips.lipIdx.push_back(static_cast<int32_t>(site));
  lips.composeV2.push_back(
      authoring::composeV2Entry(director, std::string("model_") + kDemoModelKey + ".onnx"));
  return authoring::lipTemplateJson(lips);
}

void writeDriverMovie(const DemoRecipe& r, const std::string& path) {
  tools::MovieSettings settings;
  settings.width = r.W;
  settings.height = r.H;
  settings.quantizer = r.quantizer;
  tools::MovieEncoder movie(path, settings);
  for (int si = 0; si < r.NT; ++si) movie.encodeRgb(driverFrame(r, si).data());
  movie.finish();
}

}  // namespace

authoring::BundleBuilder demoBundle(const DemoRecipe& r) {
  authoring::BundleBuilder bundle;
  // The face is drawn crisp already; the paste's usual sharpening (amount 1.3) would ring at its outline.
  bundle.set("agent", "\"demo\"")
      .set("amount", "0.4")
      .set("NT", std::to_string(r.NT))
      .set("H", std::to_string(r.H))
      .set("W", std::to_string(r.W))
      .set("crop", std::to_string(r.crop))
      .set("frames", std::to_string(r.frames))
      .set("M_src_w", std::to_string(r.W))
      .set("M_src_h", std::to_string(r.H));
  const std::vector<uint8_t> director = demoDirector(r.crop, r.coarse);
  const IdleTables idle = idleTables(r);
  bundle
      .member(std::string("model_") + kDemoModelKey + ".onnx", std::string(director.begin(), director.end()))
      .member("P.f16", priorBytes(r))
      .member("pooled64.f16", pooledBytes(r))
      .member("M.f32", transformBytes(r))
      .member("mask_512.u8", pasteMask(r.crop))
      .member("drive/xs.f32", authoring::memberBytes(idle.xs))
      .member("drive/xd.f32", authoring::memberBytes(idle.xd))
      .member("drive/si.i32", authoring::memberBytes(idle.si))
      .member("lip_template.v1.json", lipTemplate(r, director))
      .member("xs_target.bin", authoring::memberBytes(idleTargets(r)))
      .member("fca_stream.onnx", authoring::memberBytes(demoFcaStream(mouthReach())));
  if (r.teeth) addDemoTeeth(bundle, r, idleTargets(r));
  return bundle;
}

void writeDemoBundle(const DemoRecipe& recipe, const std::string& dir) {
  demoBundle(recipe).writeDirectory(dir);
  writeDriverMovie(recipe, dir + "/" + kDriverMovie);
  writeDemoMotion(recipe, dir + "/" + kMotionDir);
}

}  // namespace ko::demo
