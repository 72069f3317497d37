// Reading "lip_template.v1.json": the canonical outline, its anchors and feather, and the optional
// anchor-linear map, checked in a fixed order so the first broken rule names itself.
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessera/json.h"
#include "tessera/lip_contour.h"
#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

using json::JVal;

constexpr size_t kMaxMapAnchors = 8;

[[noreturn]] void refuse(const std::string& phrase) {
  throw std::runtime_error("lip_template.v1.json: " + phrase);
}

bool isNumber(const JVal* v) {
  return v != nullptr && v->kind == json::kNumber;
}

bool isString(const JVal* v) {
  return v != nullptr && v->kind == json::kString;
}

bool isNonEmptyArray(const JVal* v) {
  return v != nullptr && v->kind == json::kArray && !v->arr.empty();
}

JVal parseTemplate(std::string_view text) {
  json::JParser parser(text.data(), text.data() + text.size());
  parser.skipWhitespace();
  try {
    return parser.val();
  } catch (const std::runtime_error& failure) {
    refuse(std::string("is not parseable JSON (") + failure.what() + ")");
  }
}

void checkHeader(const JVal& root, int32_t canvas) {
  const JVal* format = root.get("format");
  if (!isString(format)) refuse("carries no string `format`");
  if (format->str != "lip-template-v1") {
    refuse("declares format '" + format->str + "', not 'lip-template-v1' — this runtime cannot read it");
  }
  const JVal* edge = root.get("edge");
  if (isString(edge) && edge->str != "outward") {
    refuse("declares edge '" + edge->str +
           "', and the contour feather is OUTWARD — refusing to serve a mask this runtime does not compute");
  }
  const JVal* baked = root.get("canvas");
  if (!isNumber(baked)) refuse("carries no numeric `canvas`");
  if (truncToInt32(baked->num) != canvas) {
    refuse("was baked on a " + std::to_string(truncToInt32(baked->num)) +
           " canvas but this bundle composes on " + std::to_string(canvas) +
           " — refusing to deform a polygon onto a canvas it does not name");
  }
}

double readFeather(const JVal& root) {
  const JVal* feather = root.get("feather_px");
  if (!isNumber(feather)) refuse("carries no numeric `feather_px`");
  // Checked as single precision too: the contour keeps the feather as a float and divides by it.
  if (!(feather->num > 0) || !(static_cast<float>(feather->num) > 0.0f)) {
    char text[400];
    std::snprintf(text, sizeof text, "declares feather_px %.6f, which is not positive", feather->num);
    refuse(text);
  }
  return feather->num;
}

std::vector<double> readOutline(const JVal& root) {
  const JVal* rows = root.get("u_canon");
  if (!isNonEmptyArray(rows)) refuse("carries no non-empty `u_canon` array");
  std::vector<double> uv;
  uv.reserve(2 * rows->arr.size());
  for (size_t i = 0; i < rows->arr.size(); ++i) {
    const JVal& row = rows->arr[i];
    if (row.kind != json::kArray || row.arr.size() != 2 || !isNumber(&row.arr[0]) || !isNumber(&row.arr[1])) {
      refuse("u_canon row " + std::to_string(i) + " is not a 2-vector — this is not an nv x 2 template");
    }
    uv.push_back(row.arr[0].num);
    uv.push_back(row.arr[1].num);
  }
  return uv;
}

std::vector<int32_t> readAnchors(const JVal& root) {
  const JVal* rows = root.get("lip_idx");
  if (!isNonEmptyArray(rows)) refuse("carries a `lip_idx` that is not a non-empty array");
  std::vector<int32_t> anchors;
  for (const JVal& row : rows->arr) {
    const int32_t index = truncToInt32(row.num);
    if (index < 0 || index >= kKeypointCount) {
      refuse("lip_idx names keypoint row " + std::to_string(index) + ", and a kd row is 0..20");
    }
    anchors.push_back(index);
  }
  return anchors;
}

void checkMapHeader(const JVal& map) {
  if (map.kind != json::kObject) refuse("lip_map is not a JSON object");
  const JVal* schema = map.get("schema");
  if (!isString(schema) || schema->str != "lip-map-v1") {
    refuse("lip_map declares schema '" + (isString(schema) ? schema->str : std::string("?")) +
           "', not 'lip-map-v1' — this runtime cannot evaluate it");
  }
  const JVal* kind = map.get("kind");
  if (!isString(kind) || kind->str != "anchor-linear") refuse("lip_map kind is not 'anchor-linear'");
}

std::vector<int32_t> readMapAnchors(const JVal& map) {
  const JVal* rows = map.get("lip_idx");
  if (!isNonEmptyArray(rows) || rows->arr.size() > kMaxMapAnchors)
    refuse("lip_map lip_idx is not 1..8 kd rows");
  std::vector<int32_t> anchors;
  for (const JVal& row : rows->arr) {
    if (row.kind != json::kNumber || !(row.num >= 0 && row.num < kKeypointCount) ||
        row.num != std::trunc(row.num)) {
      refuse("lip_map lip_idx names a row outside 0..20");
    }
    anchors.push_back(static_cast<int32_t>(row.num));
  }
  return anchors;
}

bool isFiniteNumber(const JVal& v) {
  return v.kind == json::kNumber && std::isfinite(v.num);
}

// W row-major followed by b.
struct MapCoefficients {
  std::vector<double> W;
  std::vector<double> b;
};

MapCoefficients readCoefficients(const JVal& map, int32_t nv, size_t kd) {
  const JVal* W = map.get("W");
  const JVal* b = map.get("b");
  if (W == nullptr || b == nullptr || W->kind != json::kArray || b->kind != json::kArray) {
    refuse("lip_map carries no W/b arrays");
  }
  const size_t rows = 2 * static_cast<size_t>(nv);
  if (W->arr.size() != rows || b->arr.size() != rows) {
    refuse("lip_map W/b have " + std::to_string(W->arr.size()) + "/" + std::to_string(b->arr.size()) +
           " rows, not 2*nv=" + std::to_string(rows));
  }
  for (size_t i = 0; i < rows; ++i) {
    const JVal& row = W->arr[i];
    if (row.kind != json::kArray || row.arr.size() != kd) {
      refuse("lip_map W row " + std::to_string(i) + " is not " + std::to_string(kd) + " wide");
    }
  }
  MapCoefficients out;
  out.W.reserve(rows * kd);
  for (const JVal& row : W->arr) {
    for (const JVal& w : row.arr) {
      if (!isFiniteNumber(w)) refuse("lip_map carries a non-finite coefficient");
      out.W.push_back(w.num);
    }
  }
  for (const JVal& v : b->arr) {
    if (!isFiniteNumber(v)) refuse("lip_map carries a non-finite coefficient");
    out.b.push_back(v.num);
  }
  return out;
}

void attachMapFrom(const JVal& map, int32_t canvas, LipContour& contour) {
  checkMapHeader(map);
  const std::vector<int32_t> anchors = readMapAnchors(map);
  const size_t kd = 2 * anchors.size();
  const MapCoefficients coefficients = readCoefficients(map, contour.vertexCount(), kd);
  const JVal* fitted = map.get("canvas");
  if (fitted != nullptr && !(isNumber(fitted) && fitted->num == canvas)) {
    refuse("lip_map was fitted on another canvas than this bundle composes on");
  }
  contour.attachMap(coefficients.W.data(), coefficients.b.data(), static_cast<int32_t>(coefficients.b.size()),
                    static_cast<int32_t>(kd), anchors.data(), static_cast<int32_t>(anchors.size()));
}

}  // namespace

LipContour LipContour::fromTemplateJson(std::string_view text, int32_t canvas) {
  const JVal root = parseTemplate(text);
  if (root.kind != json::kObject) refuse("is not a JSON object");
  checkHeader(root, canvas);
  const double feather = readFeather(root);
  const std::vector<double> outline = readOutline(root);
  const std::vector<int32_t> anchors = readAnchors(root);
  LipContour contour(canvas, static_cast<float>(feather), outline.data(),
                     static_cast<int32_t>(outline.size() / 2), anchors.data(),
                     static_cast<int32_t>(anchors.size()));
  const JVal* map = root.get("lip_map");
  if (map != nullptr) attachMapFrom(*map, canvas, contour);
  return contour;
}

}  // namespace ko::tessera
