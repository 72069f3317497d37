#include "tools/authoring/bundle_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "bundle/file_io.h"
#include "bundle/paths.h"
#include "tools/imx/imx_writer.h"

namespace ko::authoring {

BundleBuilder::BundleBuilder()
    : keys_{{"format", "\"ko-bundle-v0\""},
            {"agent", "\"synthetic\""},
            {"NT", "4"},
            {"H", "72"},
            {"W", "128"},
            {"crop", "32"},
            {"amount", "1.3"},
            {"sigma", "2.0"},
            {"ksize", "13"},
            {"frames", "8"},
            {"M_src_w", "128"},
            {"M_src_h", "72"}} {}

BundleBuilder& BundleBuilder::set(const std::string& key, const std::string& jsonValue) {
  auto found = std::find_if(keys_.begin(), keys_.end(), [&](const auto& kv) { return kv.first == key; });
  if (found == keys_.end()) {
    keys_.emplace_back(key, jsonValue);
  } else {
    found->second = jsonValue;
  }
  return *this;
}

BundleBuilder& BundleBuilder::erase(const std::string& key) {
  std::erase_if(keys_, [&](const auto& kv) { return kv.first == key; });
  return *this;
}

BundleBuilder& BundleBuilder::manifestText(std::string text) {
  manifestOverride_ = std::move(text);
  return *this;
}

BundleBuilder& BundleBuilder::member(const std::string& name, std::string bytes) {
  members_.emplace_back(name, std::move(bytes));
  return *this;
}

std::string BundleBuilder::manifest() const {
  if (!manifestOverride_.empty()) return manifestOverride_;
  std::string text = "{\n";
  for (size_t i = 0; i < keys_.size(); ++i) {
    text += "  \"" + keys_[i].first + "\": " + keys_[i].second + (i + 1 < keys_.size() ? ",\n" : "\n");
  }
  return text + "}\n";
}

std::vector<Member> BundleBuilder::members() const {
  std::vector<Member> all{{"manifest.json", manifest()}};
  all.insert(all.end(), members_.begin(), members_.end());
  return all;
}

void BundleBuilder::writeDirectory(const std::string& dir) const {
  for (const auto& [name, bytes] : members()) writeBytes(dir + "/" + name, bytes);
}

void BundleBuilder::writeContainer(const std::string& path) const {
  writeBytes(path, imxBytes(members()));
}

std::string imxBytes(const std::vector<Member>& members) {
  std::vector<tools::ImxEntry> entries;
  std::string payloads;
  for (const auto& [name, bytes] : members) {
    entries.push_back({name, bytes.size()});
    payloads += bytes;
  }
  return tools::encodeImxIndex(entries) + payloads;
}

void writeBytes(const std::string& path, const std::string& bytes) {
  if (!mkdirs(dirName(path))) throw std::runtime_error("cannot create the parent of " + path);
  File file = openFile(path, "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace ko::authoring
