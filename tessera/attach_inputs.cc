#include "tessera/attach_inputs.h"

#include <cstring>
#include <stdexcept>

#include "tessera/json.h"
#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

using json::JVal;

struct StampKey {
  const char* key;
  int32_t GeometryStamp::*field;
};
constexpr StampKey kStampKeys[] = {{"canvas_w", &GeometryStamp::canvas_w},
                                   {"canvas_h", &GeometryStamp::canvas_h},
                                   {"window_x0", &GeometryStamp::window_x0},
                                   {"window_y0", &GeometryStamp::window_y0},
                                   {"window_w", &GeometryStamp::window_w},
                                   {"window_h", &GeometryStamp::window_h},
                                   {"pad", &GeometryStamp::pad},
                                   {"band_r0", &GeometryStamp::band_r0},
                                   {"band_r1", &GeometryStamp::band_r1},
                                   {"band_c0", &GeometryStamp::band_c0},
                                   {"band_c1", &GeometryStamp::band_c1},
                                   {"shift_margin", &GeometryStamp::shift_margin}};

std::string stringAt(const JVal* object, const char* key, const std::string& fallback) {
  const JVal* value = object ? object->get(key) : nullptr;
  return value && value->kind == json::kString ? value->str : fallback;
}

double numberAt(const JVal& object, const char* key, const std::string& context) {
  const JVal* value = object.get(key);
  if (!value || value->kind != json::kNumber) {
    throw std::runtime_error("teeth: " + context + " lacks numeric '" + key + "'");
  }
  return value->num;
}

const JVal* objectAt(const JVal* object, const char* key) {
  const JVal* value = object ? object->get(key) : nullptr;
  return value && value->kind == json::kObject ? value : nullptr;
}

GeometryStamp readStamp(const JVal& geometry, const std::string& context) {
  GeometryStamp stamp;
  for (const StampKey& entry : kStampKeys)
    stamp.*entry.field = truncToInt32(numberAt(geometry, entry.key, context));
  return stamp;
}

bool sameStamp(const GeometryStamp& a, const GeometryStamp& b) {
  for (const StampKey& entry : kStampKeys) {
    if (a.*entry.field != b.*entry.field) return false;
  }
  return true;
}

void readGeometry(const JVal& sidecar, const JVal* manifestBlock, const std::string& label,
                  TesseraAttachInputs& inputs) {
  const JVal* geometry = objectAt(&sidecar, "geometry");
  if (!geometry) throw std::runtime_error(label + " carries no `geometry` stamp");
  inputs.stamp = readStamp(*geometry, label + ".geometry");
  if (const JVal* stated = objectAt(manifestBlock, "geometry")) {
    const GeometryStamp manifestStamp = readStamp(*stated, "manifest.tessera.geometry");
    if (!sameStamp(manifestStamp, inputs.stamp)) {
      throw std::runtime_error(
          "teeth geometry DISAGREES between the manifest and the bank sidecar \xe2\x80\x94 manifest " +
          manifestStamp.text() + " vs " + label + " " + inputs.stamp.text() +
          "; refusing to place a window on a rectangle the two halves of the bundle do not agree on.");
    }
  }
}

void sizeBand(TesseraAttachInputs& inputs) {
  const GeometryStamp& s = inputs.stamp;
  const int64_t w = int64_t{s.band_c1} - s.band_c0 + 2 * int64_t{s.shift_margin};
  const int64_t h = int64_t{s.band_r1} - s.band_r0 + 2 * int64_t{s.shift_margin};
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  if (w < 1 || h < 1)
    throw std::runtime_error("teeth stamp yields a non-positive stored patch (" + size + ")");
  // A patch this wide could not be indexed by the 32-bit strides every reader of the bank uses.
  if (w > (int64_t{1} << 30) || h > (int64_t{1} << 30) || w * h > (int64_t{1} << 30))
    throw std::runtime_error("teeth stamp yields an oversized stored patch (" + size + ")");
  inputs.band_w = static_cast<int32_t>(w);
  inputs.band_h = static_cast<int32_t>(h);
}

void readDonorCount(const JVal& sidecar, const std::string& label, TesseraAttachInputs& inputs) {
  const int32_t n = truncToInt32(numberAt(sidecar, "n_donors", label));
  if (n < 1) throw std::runtime_error(label + " says n_donors=" + std::to_string(n));
  if (n > kMaxDonors) {
    throw std::runtime_error(
        label + " carries n_donors=" + std::to_string(n) + ", over the owner's cap of " +
        std::to_string(kMaxDonors) +
        " (ruling 2026-08-28). This reader REFUSES rather than capping: the selector is the bank's "
        "BUILD-time "
        "cap selector, and a second one here would change which donors reach the mouth while every "
        "count-based check stayed green. Rebuild the bank.");
  }
  inputs.n_donors = n;
}

const JVal& arrayAt(const JVal& sidecar, const char* key, const std::string& label) {
  const JVal* value = sidecar.get(key);
  if (!value || value->kind != json::kArray) {
    throw std::runtime_error(label + " lacks one of track_order/cent/aperture/c_canon as an array");
  }
  return *value;
}

void readTrackOrder(const JVal& order, const std::string& label, TesseraAttachInputs& inputs) {
  const int32_t n = inputs.n_donors;
  std::vector<bool> seen(static_cast<size_t>(n), false);
  for (size_t i = 0; i < order.arr.size(); ++i) {
    const int32_t value = truncToInt32(order.arr[i].num);
    const std::string text = std::to_string(value);
    if (value < 0 || value >= n) {
      throw std::runtime_error(label + " track_order[" + std::to_string(i) + "]=" + text + " is outside [0," +
                               std::to_string(n) + ")");
    }
    if (seen[static_cast<size_t>(value)]) {
      throw std::runtime_error(label + " track_order is not a permutation (reference " + text +
                               " appears twice) \xe2\x80\x94 the inverse permutation would leave a reference "
                               "slot never written and the pass would blend uninitialised memory into a "
                               "real mouth.");
    }
    seen[static_cast<size_t>(value)] = true;
    inputs.track_order.push_back(value);
  }
}

// Numbers stand where the sidecar promises them: a text or an object read as 0 would move a mouth
// centre or an aperture without a word.
double numberIn(const JVal& value, const std::string& what) {
  if (value.kind != json::kNumber) throw std::runtime_error(what + " is not a number");
  return value.num;
}

void readDonorArrays(const JVal& sidecar, const std::string& label, TesseraAttachInputs& inputs) {
  const JVal& order = arrayAt(sidecar, "track_order", label);
  const JVal& cent = arrayAt(sidecar, "cent", label);
  const JVal& aperture = arrayAt(sidecar, "aperture", label);
  const JVal& canon = arrayAt(sidecar, "c_canon", label);
  const size_t n = static_cast<size_t>(inputs.n_donors);
  if (order.arr.size() != n || cent.arr.size() != n || aperture.arr.size() != n) {
    throw std::runtime_error(label + " says n_donors=" + std::to_string(n) + " but carries track_order=" +
                             std::to_string(order.arr.size()) + ", cent=" + std::to_string(cent.arr.size()) +
                             ", aperture=" + std::to_string(aperture.arr.size()) +
                             " \xe2\x80\x94 a count mismatch silently mis-orders the donors.");
  }
  if (canon.arr.size() != 2) throw std::runtime_error(label + " c_canon is not a pair");
  readTrackOrder(order, label, inputs);
  for (size_t i = 0; i < n; ++i) {
    const JVal& pair = cent.arr[i];
    const std::string what = label + " cent[" + std::to_string(i) + "]";
    if (pair.kind != json::kArray || pair.arr.size() != 2)
      throw std::runtime_error(what + " is not an (x,y) pair");
    inputs.cent.push_back(numberIn(pair.arr[0], what + "[0]"));
    inputs.cent.push_back(numberIn(pair.arr[1], what + "[1]"));
  }
  for (size_t i = 0; i < n; ++i) {
    inputs.aperture.push_back(numberIn(aperture.arr[i], label + " aperture[" + std::to_string(i) + "]"));
  }
  inputs.c_canon[0] = numberIn(canon.arr[0], label + " c_canon[0]");
  inputs.c_canon[1] = numberIn(canon.arr[1], label + " c_canon[1]");
}

void readBankDescription(const JVal& sidecar, const JVal* manifestBlock, const SidecarTexts& texts,
                         TesseraAttachInputs& inputs) {
  inputs.bank_container = stringAt(manifestBlock, "bank_container", "mp4");
  inputs.bank_packing = stringAt(manifestBlock, "bank_packing", "rgb24_frames");
  const JVal* codec = objectAt(&sidecar, "codec");
  inputs.bank_codec = stringAt(manifestBlock, "bank_codec", stringAt(codec, "codec", ""));
  inputs.bank_pix_fmt = stringAt(manifestBlock, "bank_pix_fmt", stringAt(codec, "pix_fmt", ""));
  if (inputs.bank_pix_fmt.empty()) {
    throw std::runtime_error(
        texts.bundleDir + ": neither manifest.tessera.bank_pix_fmt nor " + texts.sidecarLabel +
        ".codec.pix_fmt states the reference track's pixel format. A decoder handed no format negotiates "
        "one, and the one it settles on is 4:2:0 \xe2\x80\x94 lossy chroma on reference pixels IS the borrow "
        "degrading. Refusing rather than letting it guess.");
  }
}

}  // namespace

uint64_t TesseraAttachInputs::bandBytes() const {
  return static_cast<uint64_t>(n_donors) * static_cast<uint64_t>(band_h) * static_cast<uint64_t>(band_w) * 3;
}

void readSidecar(const SidecarTexts& texts, TesseraAttachInputs& inputs) {
  const std::string& label = texts.sidecarLabel;
  const JVal sidecar = json::parseJson(texts.sidecar, label);
  const JVal manifest = json::parseJson(texts.manifest, texts.manifestPath);
  const std::string format = stringAt(&sidecar, "format", "");
  if (format != "tessera_bank.v1") {
    throw std::runtime_error(
        label + " declares format '" + format +
        "', not 'tessera_bank.v1' \xe2\x80\x94 this reader does not know that generation "
        "and will not guess at its keys.");
  }
  const JVal* block = objectAt(&manifest, "tessera");
  readGeometry(sidecar, block, label, inputs);
  sizeBand(inputs);
  readDonorCount(sidecar, label, inputs);
  readDonorArrays(sidecar, label, inputs);
  readBankDescription(sidecar, block, texts, inputs);
}

void reorderTrackToDonor(const TesseraAttachInputs& inputs, const uint8_t* trackBytes, uint8_t* donorBytes) {
  if (!trackBytes || !donorBytes) throw std::runtime_error("teeth: null band buffer");
  if (inputs.track_order.size() != static_cast<size_t>(inputs.n_donors)) {
    throw std::runtime_error("teeth: track_order does not match n_donors");
  }
  const size_t patch = static_cast<size_t>(inputs.band_w) * static_cast<size_t>(inputs.band_h) * 3;
  if (patch == 0) throw std::runtime_error("teeth: zero reference stride");
  for (size_t i = 0; i < inputs.track_order.size(); ++i) {
    const int32_t slot = inputs.track_order[i];
    // Only a hand-built record can get here unchecked; a slot outside the bank would write past it.
    if (slot < 0 || slot >= inputs.n_donors) throw std::runtime_error("teeth: track_order is out of range");
    std::memcpy(donorBytes + static_cast<size_t>(slot) * patch, trackBytes + i * patch, patch);
  }
}

}  // namespace ko::tessera
