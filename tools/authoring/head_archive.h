// Blend-head weight archives in the layout PyTorch's serializer writes: a ZIP of stored entries
// holding "<name>/data.pkl" (a protocol-2 pickle of an OrderedDict of _rebuild_tensor_v2 calls over
// persistent storage ids) and one "<name>/data/<key>" entry of little-endian floats per tensor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko::authoring {

struct HeadTensor {
  std::string name;
  std::vector<int64_t> shape;
  std::vector<float> values;
};

struct ZipMember {
  std::string name;
  std::string data;
  uint16_t method = 0;  // anything but 0 claims a compressed entry (its data stays as given)
};

// The BlendHead(16) tensors with seeded random weights; without synthesis, BlendHead8(16)'s six.
std::vector<HeadTensor> blendHeadTensors(bool synthesis, uint32_t seed);

// The state dict's pickle; tensor k lives in storage key "k".
std::string stateDictPickle(const std::vector<HeadTensor>& tensors);

// The archive's members: data.pkl, byteorder, one storage per tensor, version.
std::vector<ZipMember> headArchiveMembers(const std::vector<HeadTensor>& tensors,
                                          const std::string& archiveName = "archive");

// The members as one ZIP, its end record followed by comment.
std::string zipArchive(const std::vector<ZipMember>& members, const std::string& comment = "");

std::string headArchive(const std::vector<HeadTensor>& tensors);

// A head configuration with the serving knobs' usual values and the envelope of record.
std::string headConfigJson();

}  // namespace ko::authoring
