#include "tessera/head_weights.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "tessera/pickle.h"
#include "tessera/zip_directory.h"

namespace ko::tessera {
namespace {

struct HeadTensor {
  const char* name;
  std::vector<int64_t> shape;
  std::vector<float> HeadWeights::*field;
};

const HeadTensor kCandidate[] = {
    {"cand.0.weight", {16, 7, 3, 3}, &HeadWeights::cand0_w},  {"cand.0.bias", {16}, &HeadWeights::cand0_b},
    {"cand.2.weight", {16, 16, 3, 3}, &HeadWeights::cand2_w}, {"cand.2.bias", {16}, &HeadWeights::cand2_b},
    {"cand.4.weight", {1, 16, 3, 3}, &HeadWeights::cand4_w},  {"cand.4.bias", {1}, &HeadWeights::cand4_b}};
const HeadTensor kSynthesis[] = {{"syn.0.weight", {16, 3, 3, 3}, &HeadWeights::syn0_w},
                                 {"syn.0.bias", {16}, &HeadWeights::syn0_b},
                                 {"syn.2.weight", {1, 16, 3, 3}, &HeadWeights::syn2_w},
                                 {"syn.2.bias", {1}, &HeadWeights::syn2_b}};

constexpr uint32_t kFullParams = 4082, kCandidateParams = 3489;

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

const ZipEntry& pickleEntry(const std::vector<ZipEntry>& entries) {
  const ZipEntry* found = nullptr;
  for (const ZipEntry& entry : entries) {
    if (endsWith(entry.name, "/data.pkl")) found = &entry;
  }
  if (!found) throw std::runtime_error("teeth: head .pt has no data.pkl");
  return *found;
}

std::string shapeText(const std::vector<int64_t>& shape) {
  std::string text = "[";
  for (int64_t dim : shape) text += std::to_string(dim) + ",";
  return text + "]";
}

class TensorSource {
 public:
  TensorSource(std::string_view archive, std::vector<ZipEntry> entries, std::vector<NamedTensor> tensors)
      : archive_(archive), entries_(std::move(entries)), tensors_(std::move(tensors)) {}

  bool names(const char* name) const {
    for (const NamedTensor& named : tensors_) {
      if (named.first == name) return true;
    }
    return false;
  }

  std::vector<float> take(const HeadTensor& wanted) const {
    const PVal& tensor = only(wanted.name);
    if (tensor.shape != wanted.shape) {
      throw std::runtime_error(std::string("teeth: head '") + wanted.name + "' has shape " +
                               shapeText(tensor.shape) + " \xe2\x80\x94 not the BlendHead(16) arch");
    }
    size_t count = 1;
    for (int64_t dim : wanted.shape) count *= static_cast<size_t>(dim);
    const ZipEntry& storage = storageOf(tensor.key);
    if (tensor.offset < 0 || storage.length / 4 < count ||
        static_cast<uint64_t>(tensor.offset) > storage.length / 4 - count) {
      throw std::runtime_error("teeth: head storage " + tensor.key + " too small");
    }
    std::vector<float> values(count);
    const char* bytes = archive_.data() + storage.start + static_cast<size_t>(tensor.offset) * 4;
    for (size_t k = 0; k < count; ++k) values[k] = littleEndianFloat(bytes + 4 * k);
    return values;
  }

 private:
  const PVal& only(const char* name) const {
    const PVal* found = nullptr;
    size_t count = 0;
    for (const NamedTensor& named : tensors_) {
      if (named.first != name) continue;
      found = &named.second;
      ++count;
    }
    if (count > 1) {
      throw std::runtime_error(std::string("teeth: head .pt names '") + name + "' " + std::to_string(count) +
                               " times \xe2\x80\x94 ambiguous");
    }
    if (!found) throw std::runtime_error(std::string("teeth: head .pt lacks '") + name + "'");
    return *found;
  }

  const ZipEntry& storageOf(const std::string& key) const {
    for (const ZipEntry& entry : entries_) {
      if (endsWith(entry.name, "/data/" + key)) return entry;
    }
    throw std::runtime_error("teeth: head storage " + key + " missing");
  }

  static float littleEndianFloat(const char* bytes) {
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) bits |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])) << (8 * k);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  std::string_view archive_;
  std::vector<ZipEntry> entries_;
  std::vector<NamedTensor> tensors_;
};

}  // namespace

uint32_t HeadWeights::params() const {
  size_t total = 0;
  for (const HeadTensor& wanted : kCandidate) total += (this->*wanted.field).size();
  for (const HeadTensor& wanted : kSynthesis) total += (this->*wanted.field).size();
  return static_cast<uint32_t>(total);
}

HeadWeights loadHeadPt(std::string_view archive) {
  std::vector<ZipEntry> entries = readZipDirectory(archive);
  const ZipEntry& pickle = pickleEntry(entries);
  std::vector<NamedTensor> tensors = readStateDictPickle(archive.substr(pickle.start, pickle.length));
  if (tensors.empty()) throw std::runtime_error("teeth: head .pt state_dict is empty");
  const TensorSource source(archive, std::move(entries), std::move(tensors));
  HeadWeights weights;
  for (const HeadTensor& wanted : kCandidate) weights.*wanted.field = source.take(wanted);
  bool synthesis = false;
  for (const HeadTensor& wanted : kSynthesis) synthesis = synthesis || source.names(wanted.name);
  if (synthesis) {
    for (const HeadTensor& wanted : kSynthesis) weights.*wanted.field = source.take(wanted);
  }
  const uint32_t params = weights.params();
  if (params != kFullParams && params != kCandidateParams) {
    throw std::runtime_error("teeth: head has " + std::to_string(params) +
                             " params, not the 4,082 of BlendHead(16) nor the 3,489 of BlendHead8(16)");
  }
  return weights;
}

}  // namespace ko::tessera
