#include "tools/demo/demo_teeth.h"

#include <cmath>
#include <string>

#include "tessera/unified_pi.h"
#include "tools/authoring/teeth_members.h"
#include "tools/demo/demo_director.h"
#include "tools/demo/demo_geometry.h"

namespace ko::demo {
namespace {

// The "v1" corpus lip geometry: pad_x, pad_y, down.
constexpr const char* kLipGeometry = "[0.05, 0.08, 0.015]";

std::string unifiedJson(const DemoRecipe& r) {
  std::string lipIdx;
  for (const int64_t site : demoLipSites()) lipIdx += (lipIdx.empty() ? "" : ", ") + std::to_string(site);
  return R"({"crop": {"canvas": )" + std::to_string(r.crop) +
         R"(}, "pi": {"mode": "prop", "corner_recovery": false, "prop_gate_scale": 1.0, "lip_idx": [)" +
         lipIdx + R"(], "lip_geom_params": )" + kLipGeometry + "}}";
}

// A window a quarter of the crop wide and an eighth high on the painted mouth, a pad of 1/32 of the
// crop, the middle three quarters of it stored, grown by half the pad.
tessera::GeometryStamp mouthStamp(const DemoRecipe& r) {
  const auto pixel = [&r](double normalised) {
    return static_cast<int32_t>(std::lround((normalised + 1.0) / 2.0 * (r.crop - 1)));
  };
  tessera::GeometryStamp s;
  s.canvas_w = s.canvas_h = r.crop;
  s.window_w = r.crop / 4;
  s.window_h = r.crop / 8;
  s.window_x0 = pixel(0.0) - s.window_w / 2;
  s.window_y0 = pixel(geometry::kMouthY) - s.window_h / 2;
  s.pad = r.crop / 32;
  s.band_r0 = s.window_h / 8;
  s.band_r1 = s.window_h - s.window_h / 8;
  s.band_c0 = s.window_w / 8;
  s.band_c1 = s.window_w - s.window_w / 8;
  s.shift_margin = s.pad / 2;
  return s;
}

}  // namespace

void addDemoTeeth(authoring::BundleBuilder& bundle, const DemoRecipe& r,
                  const std::vector<float>& idleTargets) {
  const std::string unified = unifiedJson(r);
  authoring::TeethMembersSpec spec;
  authoring::BankSidecarSpec& bank = spec.bank;
  bank = authoring::BankSidecarSpec::withDonors(kDemoDonors);
  bank.stamp = mouthStamp(r);
  const tessera::UnifiedPi pi =
      tessera::UnifiedPi::fromManifestJson(R"({"unified": )" + unified + "}", r.crop);
  pi.canonicalCentroid(idleTargets.data(), r.NT, &bank.cCanon[0], &bank.cCanon[1]);
  bank.cent.clear();
  bank.aperture.clear();
  for (int d = 0; d < kDemoDonors; ++d) {
    // Mouths a pixel or two either side of the canonical one, opening wider with the index as painted.
    bank.cent.push_back(bank.cCanon[0] + (d % 5) - 2);
    bank.cent.push_back(bank.cCanon[1] + (d % 3) - 1);
    bank.aperture.push_back(0.1 + 0.8 * d / (kDemoDonors - 1));
  }
  authoring::addTeethMembers(bundle, spec);
  bundle.set("unified", unified);
}

}  // namespace ko::demo
