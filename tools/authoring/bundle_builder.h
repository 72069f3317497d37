// Identity bundles built in code: a manifest built key by key plus arbitrary members, written as a
// directory or packed into an IMX container with the project's own packer. Tests and the demo
// generator build their bundles with it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ko::authoring {

using Member = std::pair<std::string, std::string>;  // name, payload bytes

class BundleBuilder {
 public:
  // A valid manifest: format, agent, NT 4, H 72, W 128, crop 32, amount 1.3, sigma 2, ksize 13,
  // frames 8, M_src_w 128, M_src_h 72.
  BundleBuilder();

  // Sets a root key to a raw JSON value (strings carry their quotes), keeping its place if present.
  BundleBuilder& set(const std::string& key, const std::string& jsonValue);
  BundleBuilder& erase(const std::string& key);
  // Replaces the generated manifest text with this exact text.
  BundleBuilder& manifestText(std::string text);
  BundleBuilder& member(const std::string& name, std::string bytes);

  std::string manifest() const;
  // manifest.json first, then the members in the order they were added.
  std::vector<Member> members() const;

  void writeDirectory(const std::string& dir) const;
  void writeContainer(const std::string& path) const;

 private:
  std::vector<std::pair<std::string, std::string>> keys_;
  std::string manifestOverride_;
  std::vector<Member> members_;
};

// The bytes of a well-formed IMX v2 container holding the members (through the project's packer).
std::string imxBytes(const std::vector<Member>& members);

// A member's bytes: the values as they lie in memory (little-endian on every supported host).
template <class T>
std::string memberBytes(const std::vector<T>& values) {
  return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

// Writes bytes to a file, creating parent directories. Throws on failure.
void writeBytes(const std::string& path, const std::string& bytes);

}  // namespace ko::authoring
