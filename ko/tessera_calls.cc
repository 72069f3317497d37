// The exported teeth-member calls: a carriage and a members record behind opaque handles, with every
// refusal copied into the caller's buffer by fill_err.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "bundle/bundle.h"
#include "ko/err_buffer.h"
#include "ko/ko.h"
#include "tessera/tessera.h"

struct ko_tessera_carriage {
  ko::tessera::TesseraCarriage carriage;
  std::string pathText;  // the last path handed out
};

struct ko_tessera_members {
  explicit ko_tessera_members(ko::tessera::TesseraAttachInputs loaded) : inputs(std::move(loaded)) {
    inputs.stamp.toFields(stamp);
  }
  ko::tessera::TesseraAttachInputs inputs;
  int32_t stamp[ko::tessera::GeometryStamp::kFieldCount];
};

using ko::fill_err;
using ko::withErr;

namespace {

const char* text(const ko_tessera_members* members, std::string ko::tessera::TesseraAttachInputs::*field) {
  return members ? (members->inputs.*field).c_str() : "";
}

const double* doubles(const std::vector<double>& values) {
  return values.empty() ? nullptr : values.data();
}

}  // namespace

extern "C" {

KO_API int ko_tessera_slot_count(void) {
  return ko::tessera::tesseraSlotCount();
}

KO_API const char* ko_tessera_slot_key(int i) {
  if (i < 0 || i >= ko::tessera::kTesseraSlots) return nullptr;
  return ko::tessera::tesseraSlotKeys()[static_cast<size_t>(i)];
}

KO_API ko_tessera_carriage* ko_tessera_carriage_open(const char* bundle_dir) {
  if (!bundle_dir) return nullptr;
  try {
    auto* handle = new ko_tessera_carriage();
    try {
      handle->carriage = ko::tessera::tesseraCarriage(bundle_dir);
    } catch (const std::exception&) {
      handle->carriage = ko::tessera::TesseraCarriage();
      for (const char* key : ko::tessera::tesseraSlotKeys()) handle->carriage.missing.push_back(key);
    }
    return handle;
  } catch (...) {
    return nullptr;
  }
}

KO_API void ko_tessera_carriage_close(ko_tessera_carriage* carriage) {
  delete carriage;
}

KO_API int ko_tessera_carriage_complete(const ko_tessera_carriage* carriage) {
  return carriage && carriage->carriage.complete ? 1 : 0;
}

KO_API int ko_tessera_carriage_declared(const ko_tessera_carriage* carriage) {
  return carriage && carriage->carriage.declared ? 1 : 0;
}

KO_API const char* ko_tessera_carriage_path(ko_tessera_carriage* carriage, const char* slot_key) {
  if (!carriage || !slot_key) return "";
  try {
    carriage->pathText = carriage->carriage.path(slot_key);
  } catch (...) {
    carriage->pathText.clear();
  }
  return carriage->pathText.c_str();
}

KO_API int ko_tessera_carriage_missing_count(const ko_tessera_carriage* carriage) {
  return carriage ? static_cast<int>(carriage->carriage.missing.size()) : 0;
}

KO_API const char* ko_tessera_carriage_missing(const ko_tessera_carriage* carriage, int i) {
  if (!carriage || i < 0 || static_cast<size_t>(i) >= carriage->carriage.missing.size()) return nullptr;
  return carriage->carriage.missing[static_cast<size_t>(i)].c_str();
}

KO_API ko_tessera_members* ko_tessera_members_open(const char* bundle_dir, char* err, int err_len) {
  fill_err(err, err_len, "");
  return withErr("ko_tessera_members_open", err, err_len, static_cast<ko_tessera_members*>(nullptr), [&] {
    if (!bundle_dir) throw std::invalid_argument("ko_tessera_members_open: null bundle_dir");
    return new ko_tessera_members(ko::tessera::loadTesseraMembers(bundle_dir));
  });
}

KO_API void ko_tessera_members_close(ko_tessera_members* members) {
  delete members;
}

KO_API int ko_tessera_members_n_donors(const ko_tessera_members* members) {
  return members ? members->inputs.n_donors : 0;
}

KO_API const double* ko_tessera_members_cent(const ko_tessera_members* members) {
  return members ? doubles(members->inputs.cent) : nullptr;
}

KO_API const double* ko_tessera_members_c_canon(const ko_tessera_members* members) {
  return members ? members->inputs.c_canon : nullptr;
}

KO_API const double* ko_tessera_members_aperture(const ko_tessera_members* members) {
  return members ? doubles(members->inputs.aperture) : nullptr;
}

KO_API const int32_t* ko_tessera_members_stamp(const ko_tessera_members* members) {
  return members ? members->stamp : nullptr;
}

KO_API const uint8_t* ko_tessera_members_head_pt(const ko_tessera_members* members) {
  if (!members || members->inputs.head_pt.empty()) return nullptr;
  return reinterpret_cast<const uint8_t*>(members->inputs.head_pt.data());
}

KO_API uint32_t ko_tessera_members_head_pt_len(const ko_tessera_members* members) {
  return members ? static_cast<uint32_t>(members->inputs.head_pt.size()) : 0;
}

KO_API const char* ko_tessera_members_head_json(const ko_tessera_members* members) {
  return text(members, &ko::tessera::TesseraAttachInputs::head_json);
}

KO_API const char* ko_tessera_members_manifest_json(const ko_tessera_members* members) {
  return text(members, &ko::tessera::TesseraAttachInputs::manifest_json);
}

KO_API const char* ko_tessera_members_bank_track_path(const ko_tessera_members* members) {
  return text(members, &ko::tessera::TesseraAttachInputs::bank_track_path);
}

KO_API const char* ko_tessera_members_bank_container(const ko_tessera_members* members) {
  return text(members, &ko::tessera::TesseraAttachInputs::bank_container);
}

KO_API const char* ko_tessera_members_bank_codec(const ko_tessera_members* members) {
  return text(members, &ko::tessera::TesseraAttachInputs::bank_codec);
}

KO_API const char* ko_tessera_members_bank_pix_fmt(const ko_tessera_members* members) {
  return text(members, &ko::tessera::TesseraAttachInputs::bank_pix_fmt);
}

KO_API const char* ko_tessera_members_bank_packing(const ko_tessera_members* members) {
  return text(members, &ko::tessera::TesseraAttachInputs::bank_packing);
}

KO_API int ko_tessera_members_band_w(const ko_tessera_members* members) {
  return members ? members->inputs.band_w : 0;
}

KO_API int ko_tessera_members_band_h(const ko_tessera_members* members) {
  return members ? members->inputs.band_h : 0;
}

KO_API uint64_t ko_tessera_members_band_bytes(const ko_tessera_members* members) {
  return members ? members->inputs.bandBytes() : 0;
}

KO_API int ko_tessera_members_reorder(const ko_tessera_members* members, const uint8_t* track, uint8_t* donor,
                                      char* err, int err_len) {
  fill_err(err, err_len, "");
  return withErr("ko_tessera_members_reorder", err, err_len, 1, [&] {
    if (!members || !track || !donor)
      throw std::invalid_argument("ko_tessera_members_reorder: null argument");
    ko::tessera::reorderTrackToDonor(members->inputs, track, donor);
    return 0;
  });
}

KO_API int ko_tessera_members_decode_bank(const ko_tessera_members* members, uint8_t* donor,
                                          uint64_t capacity, char* err, int err_len) {
  fill_err(err, err_len, "");
  return withErr("ko_tessera_members_decode_bank", err, err_len, 1, [&] {
    if (!members || !donor) throw std::invalid_argument("ko_tessera_members_decode_bank: null argument");
    const ko::tessera::TesseraAttachInputs& in = members->inputs;
    if (capacity < in.bandBytes()) {
      throw std::invalid_argument("ko_tessera_members_decode_bank: the buffer holds " +
                                  std::to_string(capacity) + " bytes, the bank needs " +
                                  std::to_string(in.bandBytes()));
    }
    const std::string track = ko::readFile(in.bank_track_path);
    const std::vector<uint8_t> bank =
        ko::tessera::decodeBankTrack(reinterpret_cast<const uint8_t*>(track.data()), track.size(),
                                     in.n_donors, in.band_h, in.band_w, in.track_order);
    std::memcpy(donor, bank.data(), bank.size());
    return 0;
  });
}

}  // extern "C"
