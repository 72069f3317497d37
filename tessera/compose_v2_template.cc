#include "tessera/compose_v2_template.h"

#include <stdexcept>

#include "tessera/base64.h"
#include "tessera/json.h"

namespace ko::tessera {
namespace {

using json::JVal;

constexpr const char* kLabel = "lip_template.v1.json compose_v2";

bool isLowerHexDigest(const JVal* v) {
  if (v == nullptr || v->kind != json::kString || v->str.size() != 64) return false;
  for (const char c : v->str) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The fields of one graph's entry, or the reason it is refused.
int readEntry(const JVal& entry, const std::string& path, std::vector<uint8_t>& structure,
              std::string& sourceSha256, std::string& error, std::string* structureSha256) {
  const JVal* source = entry.get("source_sha256");
  if (!isLowerHexDigest(source)) {
    error = path + ".source_sha256 is not 64 lowercase hex";
    return -1;
  }
  const JVal* encoded = entry.get("structure");
  if (encoded == nullptr || encoded->kind != json::kString || encoded->str.empty()) {
    error = path + ".structure is not a non-empty string";
    return -1;
  }
  const JVal* digest = entry.get("structure_sha256");
  if (!isLowerHexDigest(digest)) {
    error = path + ".structure_sha256 is not 64 lowercase hex";
    return -1;
  }
  std::vector<uint8_t> decoded;
  std::string reason;
  if (!decodeBase64Strict(encoded->str, decoded, reason)) {
    error = path + ".structure: " + reason;
    return -1;
  }
  structure = std::move(decoded);
  sourceSha256 = source->str;
  if (structureSha256 != nullptr) *structureSha256 = digest->str;
  return 1;
}

}  // namespace

int composeV2StructureFromTemplate(std::string_view text, const std::string& graphKey,
                                   std::vector<uint8_t>& structure, std::string& sourceSha256,
                                   std::string& error, std::string* structureSha256) {
  JVal root;
  try {
    json::JParser parser(text.data(), text.data() + text.size());
    parser.skipWhitespace();
    root = parser.val();
  } catch (const std::runtime_error& failure) {
    error = std::string("lip_template.v1.json is not parseable JSON (") + failure.what() + ")";
    return -1;
  }
  if (root.kind != json::kObject) {
    error = "lip_template.v1.json is not a JSON object";
    return -1;
  }
  const JVal* block = root.get("compose_v2");
  if (block == nullptr) return 0;
  if (block->kind != json::kObject) {
    error = std::string(kLabel) + " is not a JSON object";
    return -1;
  }
  const JVal* schema = block->get("schema");
  const bool named = schema != nullptr && schema->kind == json::kString;
  if (!named || schema->str != "compose-v2-structure-v1") {
    error = std::string(kLabel) + " schema " + (named ? "'" + schema->str + "'" : std::string("(absent)")) +
            " is not 'compose-v2-structure-v1'";
    return -1;
  }
  const JVal* graphs = block->get("graphs");
  if (graphs == nullptr || graphs->kind != json::kObject) {
    error = std::string(kLabel) + " carries no `graphs` object";
    return -1;
  }
  const JVal* entry = graphs->get(graphKey);
  if (entry == nullptr) return 0;
  const std::string path = std::string(kLabel) + ".graphs." + graphKey;
  if (entry->kind != json::kObject) {
    error = path + " is not a JSON object";
    return -1;
  }
  return readEntry(*entry, path, structure, sourceSha256, error, structureSha256);
}

}  // namespace ko::tessera
