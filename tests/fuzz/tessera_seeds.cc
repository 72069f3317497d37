// Writes the starting corpora of the teeth subsystem's fuzz targets, one directory per target:
// manifests and JSON edge cases, lip templates (with and without a lip map) for the canvases the
// template target reads at, compose-v2 blocks with base64 structures, blend head archives and
// configurations, sidecars with their manifests, and bank tracks in the bank target's geometry.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/authoring/bank_sidecar.h"
#include "tools/authoring/bank_track.h"
#include "tools/authoring/head_archive.h"
#include "tools/authoring/lip_template.h"

namespace {

namespace fs = std::filesystem;
using ko::authoring::LipTemplateSpec;

void write(const fs::path& dir, const std::string& name, const std::string& text) {
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary) << text;
}

LipTemplateSpec templateOn(int canvas, int nv) {
  LipTemplateSpec lips;
  lips.canvas = canvas;
  lips.featherPx = 3;
  lips.uCanon = ko::authoring::ellipseOutline(nv);
  lips.lipIdx = {0, 1, 2, 3};
  return lips;
}

LipTemplateSpec withMap(LipTemplateSpec lips) {
  ko::authoring::LipMapSpec map;
  map.lipIdx = {0, 1};
  for (const auto& uv : lips.uCanon) {
    map.W.push_back({uv[0], 0, 0, 0});
    map.W.push_back({0, uv[1], 0, 0});
    map.b.push_back(uv[0]);
    map.b.push_back(uv[1]);
  }
  map.canvas = lips.canvas;
  lips.lipMap = map;
  return lips;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <seed directory>\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  const fs::path json = root / "tessera_json";
  write(
      json, "manifest.json",
      R"({"unified": {"crop": {"canvas": 512}, "pi": {"mode": "prop", "corner_recovery": "lip_landmark_half",
            "prop_gate_scale": 1.0, "lip_idx": [0, 1, 2, 3], "lip_geom_params": [0.1, 0.08, 0.074]}}})");
  write(json, "escapes.json", R"(["a\"b\\c\/\b\f\n\r\t\u00e9", true, false, null, -1.5e-3, +0x1p3, inf])");
  write(json, "lenient.json", R"({"a" 1, "a": truex})");
  write(json, "nested.json", std::string(40, '[') + std::string(40, ']'));

  const fs::path lip = root / "lip_template";
  for (const int canvas : {7, 64}) {
    write(lip, "plain_" + std::to_string(canvas) + ".json",
          ko::authoring::lipTemplateJson(templateOn(canvas, 8)));
    write(lip, "map_" + std::to_string(canvas) + ".json",
          ko::authoring::lipTemplateJson(withMap(templateOn(canvas, 6))));
  }

  const fs::path compose = root / "compose_v2";
  LipTemplateSpec lips = templateOn(64, 3);
  lips.composeV2 = {{"director.onnx", "QUJDRA==", std::string(64, 'a'), std::string(64, '0')}};
  write(compose, "template.json", ko::authoring::lipTemplateJson(lips));
  write(compose, "base64.txt", "SGVsbG8sIHdvcmxkIQ==");
  write(compose, "pad1.txt", "QUI=");

  const fs::path head = root / "head_archive";
  write(head, "full.pt", ko::authoring::headArchive(ko::authoring::blendHeadTensors(true, 1)));
  write(head, "candidates.pt",
        ko::authoring::zipArchive(
            ko::authoring::headArchiveMembers(ko::authoring::blendHeadTensors(false, 2)), "note"));
  write(head, "config.json", ko::authoring::headConfigJson());

  const fs::path members = root / "tessera_members";
  using ko::authoring::BankSidecarSpec;
  const std::string manifest = R"({"tessera": {"bank_pix_fmt": "rgb24", "geometry": )" +
                               ko::authoring::stampJson(BankSidecarSpec::smallStamp()) + "}}";
  write(members, "two.json",
        ko::authoring::bankSidecarJson(BankSidecarSpec{}) + std::string(1, '\0') + manifest);
  write(members, "nine.json",
        ko::authoring::bankSidecarJson(BankSidecarSpec::withDonors(9)) + std::string(1, '\0') + "{}");

  const fs::path bank = root / "bank_track";
  fs::create_directories(bank);
  std::vector<ko::authoring::RgbPatch> donors = ko::authoring::paintedDonors(4, 28, 16);
  ko::authoring::writeBankTrack((bank / "four.mp4").string(), {donors.rbegin(), donors.rend()}, 28, 16);
  donors.pop_back();
  ko::authoring::writeBankTrack((bank / "three.mp4").string(), donors, 28, 16);
  return 0;
}
