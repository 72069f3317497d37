// The exported teeth calls of the utterance pipeline: the attach that builds a stream borrow from the
// teeth members and arms the pipeline with it, and the statistics the pipeline keeps. Refusals go to
// the caller's buffer, each naming the attach.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ko/bank_args.h"
#include "ko/err_buffer.h"
#include "ko/ko.h"
#include "ko/utt_handle.h"
#include "tessera/tessera.h"

namespace {

using ko::tessera::GeometryStamp;

constexpr const char* kAttach = "ko_utt_tessera_attach";

struct AttachArgs {
  ko::BankArgs bank;
  const int32_t* stamp = nullptr;
  const uint8_t* headPt = nullptr;
  uint32_t headPtLen = 0;
  const char* headJson = nullptr;
  const char* manifestJson = nullptr;
};

std::string geometryText(const std::string& name, const ko::tessera::UnifiedPi& pi) {
  char text[160];
  std::snprintf(text, sizeof text, "corpus pi geometry %s (pad_x %.2f, pad_y %.2f, down %.3f)", name.c_str(),
                static_cast<double>(pi.pad_x), static_cast<double>(pi.pad_y), static_cast<double>(pi.down));
  return text;
}

void attach(ko::utt::UttPipeline& pipeline, const AttachArgs& a) {
  if (!a.bank.bank || !a.bank.cent || !a.bank.cCanon || !a.bank.aperture || !a.stamp || !a.headPt ||
      !a.headJson || !a.manifestJson) {
    throw std::invalid_argument(
        "a required member is null \xe2\x80\x94 this ABI has no partial-attach state");
  }
  if (a.bank.nDonors < 1) throw std::invalid_argument("n_donors <= 0");
  const GeometryStamp stamp = GeometryStamp::fromFields(a.stamp);
  stamp.validate();
  const ko::Manifest& manifest = pipeline.manifest();
  if (stamp.canvas_w != stamp.canvas_h || stamp.canvas_w != manifest.crop) {
    throw std::invalid_argument("bank canvas " + std::to_string(stamp.canvas_w) + "x" +
                                std::to_string(stamp.canvas_h) + " != this bundle's render crop " +
                                std::to_string(manifest.crop));
  }
  const ko::tessera::BankData bank = ko::copyBank(a.bank, stamp);
  const ko::tessera::ServeConfig config = ko::tessera::ServeConfig::fromHeadMemberJson(a.headJson);
  const ko::tessera::HeadWeights weights =
      ko::tessera::loadHeadPt({reinterpret_cast<const char*>(a.headPt), a.headPtLen});
  const std::vector<float>& xs = pipeline.xsTarget();
  if (manifest.NT < 1 || xs.size() != static_cast<size_t>(manifest.NT) * ko::tessera::kKeypointFloats) {
    throw std::invalid_argument(
        "xs_target.bin is absent or the wrong length, so this bundle's corpus pi frame cannot be identified "
        "\xe2\x80\x94 refusing to arm the borrow against the manifest's compose-field geometry");
  }
  std::string chosen;
  const ko::tessera::UnifiedPi pi = ko::tessera::UnifiedPi::corpusFromManifestJson(
      a.manifestJson, manifest.crop, xs.data(), manifest.NT, bank.c_canon, &chosen);
  auto borrow = std::make_shared<ko::tessera::StreamBorrow>(bank, weights, config, pi, manifest.lipTemplate);
  pipeline.attachTeeth(std::move(borrow), geometryText(chosen, pi));
}

void copyText(const std::string& text, char* out, size_t size) {
  if (!out || size < 1) return;
  ko::fill_err(out, static_cast<int>(std::min<size_t>(size, INT32_MAX)), text);
}

}  // namespace

extern "C" {

KO_API int ko_utt_tessera_attach(ko_utt* utt, const uint8_t* bank, int32_t n_donors, const double* cent,
                                 const double* c_canon, const double* aperture, const int32_t* stamp,
                                 const uint8_t* head_pt, uint32_t head_pt_len, const char* head_json,
                                 const char* manifest_json, char* err, int32_t err_len) {
  ko::fill_err(err, err_len, "");
  return ko::withNamedErr(kAttach, err, err_len, 1, [&] {
    if (!utt) throw std::invalid_argument("null session");
    attach(
        utt->pipeline,
        {{bank, n_donors, cent, c_canon, aperture}, stamp, head_pt, head_pt_len, head_json, manifest_json});
    return 0;
  });
}

KO_API int ko_utt_tessera_stats(ko_utt* utt, uint64_t* applied, uint64_t* refused, char* text, size_t size) {
  if (!utt) return 0;
  std::string latest;
  const int status = utt->pipeline.teethStats(applied, refused, &latest);
  copyText(latest, text, size);
  return status;
}

KO_API int ko_utt_tessera_synth_w(ko_utt* utt, double* mean, double* max, int64_t* count) {
  return utt && utt->pipeline.teethSynth(mean, max, count) ? 1 : 0;
}

KO_API int ko_utt_tessera_geometry(ko_utt* utt, char* text, size_t size) {
  if (!utt || !text || size < 1) return 0;
  std::string geometry;
  const bool attached = utt->pipeline.teethGeometry(&geometry);
  copyText(geometry, text, size);
  return attached ? 1 : 0;
}

}  // extern "C"
