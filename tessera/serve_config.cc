#include "tessera/serve_config.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "tessera/json.h"
#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

using json::JVal;

const JVal& keyOf(const JVal& block, const char* key) {
  const JVal* value = block.get(key);
  if (!value) throw std::runtime_error(std::string("teeth: member JSON lacks key '") + key + "'");
  return *value;
}

double numberOf(const JVal& block, const char* key) {
  const JVal& value = keyOf(block, key);
  return value.kind == json::kNumber ? value.num : 0.0;
}

int32_t integerOf(const JVal& block, const char* key) {
  return truncToInt32(numberOf(block, key));
}

const JVal* objectAt(const JVal& root, const char* key) {
  const JVal* value = root.get(key);
  return value && value->kind == json::kObject ? value : nullptr;
}

}  // namespace

ServeConfig ServeConfig::fromHeadMemberJson(std::string_view text) {
  json::JParser parser(text.data(), text.data() + text.size());
  const JVal root = parser.val();
  const JVal* retrieval = objectAt(root, "retrieval");
  const JVal* temporal = objectAt(root, "temporal");
  if (!retrieval || !temporal) {
    throw std::runtime_error(
        "teeth: tessera_head.v1 config lacks the retrieval/temporal blocks of the v1 schema \xe2\x80\x94 "
        "refusing to "
        "serve defaults (W3-01)");
  }
  ServeConfig config;
  config.kshort = integerOf(*retrieval, "kshort");
  config.aperture_tol = numberOf(*retrieval, "aperture_tol");
  config.cut = integerOf(*retrieval, "cut");
  config.K = integerOf(*retrieval, "K");
  config.hysteresis = integerOf(*temporal, "hysteresis");
  config.lookahead = integerOf(*temporal, "lookahead");
  if (const JVal* decode = objectAt(root, "decode")) {
    if (const JVal* clamp = decode->get("envelope_clamp_255")) {
      const double value = clamp->kind == json::kNumber ? clamp->num : NAN;
      if (!(std::fabs(value - 12.0) <= 1e-6)) {
        throw std::runtime_error(
            "teeth: member envelope_clamp_255 != the envelope of record (12/255) \xe2\x80\x94 the envelope "
            "is a gated "
            "quantity");
      }
    }
  }
  return config;
}

}  // namespace ko::tessera
