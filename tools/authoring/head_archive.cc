#include "tools/authoring/head_archive.h"

#include <array>
#include <cstring>
#include <random>

namespace ko::authoring {
namespace {

void putLE(std::string& out, uint64_t value, int bytes) {
  for (int k = 0; k < bytes; ++k) out.push_back(static_cast<char>((value >> (8 * k)) & 0xff));
}

uint32_t crc32(const std::string& data) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) crc = table[(crc ^ byte) & 0xff] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// Opcodes as pickle.py emits them for protocol 2, memoising every value it would.
class PickleWriter {
 public:
  void op(char code) { out_.push_back(code); }
  void memo() {
    if (memo_ < 256) {
      op('q');
      putLE(out_, memo_, 1);
    } else {
      op('r');
      putLE(out_, memo_, 4);
    }
    ++memo_;
  }
  void text(const std::string& s) {
    op('X');
    putLE(out_, s.size(), 4);
    out_ += s;
    memo();
  }
  void global(const std::string& module, const std::string& name) {
    op('c');
    out_ += module + "\n" + name + "\n";
    memo();
  }
  void integer(int64_t v) {
    if (v >= 0 && v < 256) {
      op('K');
      putLE(out_, static_cast<uint64_t>(v), 1);
    } else if (v >= 0 && v < 65536) {
      op('M');
      putLE(out_, static_cast<uint64_t>(v), 2);
    } else {
      op('J');
      putLE(out_, static_cast<uint64_t>(v), 4);
    }
  }
  void intTuple(const std::vector<int64_t>& values) {
    if (values.empty()) {
      op(')');
    } else if (values.size() <= 3) {
      for (int64_t v : values) integer(v);
      op(static_cast<char>(0x84 + values.size()));
    } else {
      op('(');
      for (int64_t v : values) integer(v);
      op('t');
    }
    memo();
  }
  void emptyOrderedDict() {
    global("collections", "OrderedDict");
    op(')');
    op('R');
    memo();
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
  uint32_t memo_ = 0;
};

std::vector<int64_t> contiguousStrides(const std::vector<int64_t>& shape) {
  std::vector<int64_t> strides(shape.size(), 1);
  for (size_t k = shape.size(); k-- > 1;) strides[k - 1] = strides[k] * shape[k];
  return strides;
}

void writeTensor(PickleWriter& p, const HeadTensor& tensor, size_t key) {
  p.text(tensor.name);
  p.global("torch._utils", "_rebuild_tensor_v2");
  p.op('(');
  p.op('(');
  p.text("storage");
  p.global("torch", "FloatStorage");
  p.text(std::to_string(key));
  p.text("cpu");
  p.integer(static_cast<int64_t>(tensor.values.size()));
  p.op('t');
  p.memo();
  p.op('Q');
  p.integer(0);
  p.intTuple(tensor.shape);
  p.intTuple(contiguousStrides(tensor.shape));
  p.op('\x89');
  p.emptyOrderedDict();
  p.op('t');
  p.memo();
  p.op('R');
  p.memo();
}

std::string floatBytes(const std::vector<float>& values) {
  std::string bytes(values.size() * 4, '\0');
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

}  // namespace

std::vector<HeadTensor> blendHeadTensors(bool synthesis, uint32_t seed) {
  std::vector<HeadTensor> tensors = {{"cand.0.weight", {16, 7, 3, 3}, {}},  {"cand.0.bias", {16}, {}},
                                     {"cand.2.weight", {16, 16, 3, 3}, {}}, {"cand.2.bias", {16}, {}},
                                     {"cand.4.weight", {1, 16, 3, 3}, {}},  {"cand.4.bias", {1}, {}}};
  if (synthesis) {
    tensors.insert(tensors.end(), {{"syn.0.weight", {16, 3, 3, 3}, {}},
                                   {"syn.0.bias", {16}, {}},
                                   {"syn.2.weight", {1, 16, 3, 3}, {}},
                                   {"syn.2.bias", {1}, {}}});
  }
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> weight(-0.25f, 0.25f);
  for (HeadTensor& tensor : tensors) {
    int64_t count = 1;
    for (int64_t dim : tensor.shape) count *= dim;
    tensor.values.resize(static_cast<size_t>(count));
    for (float& v : tensor.values) v = weight(random);
  }
  return tensors;
}

std::string stateDictPickle(const std::vector<HeadTensor>& tensors) {
  PickleWriter p;
  p.op('\x80');
  p.op('\x02');
  p.emptyOrderedDict();
  p.op('(');
  for (size_t k = 0; k < tensors.size(); ++k) writeTensor(p, tensors[k], k);
  p.op('u');
  // The state dict's _metadata, which BUILD attaches and the reader leaves aside.
  p.op('}');
  p.memo();
  p.text("_metadata");
  p.emptyOrderedDict();
  p.op('s');
  p.op('b');
  p.op('.');
  return p.take();
}

std::vector<ZipMember> headArchiveMembers(const std::vector<HeadTensor>& tensors,
                                          const std::string& archiveName) {
  std::vector<ZipMember> members = {{archiveName + "/data.pkl", stateDictPickle(tensors)},
                                    {archiveName + "/byteorder", "little"}};
  for (size_t k = 0; k < tensors.size(); ++k) {
    members.push_back({archiveName + "/data/" + std::to_string(k), floatBytes(tensors[k].values)});
  }
  members.push_back({archiveName + "/version", "3\n"});
  return members;
}

std::string zipArchive(const std::vector<ZipMember>& members, const std::string& comment) {
  std::string out, directory;
  for (const ZipMember& member : members) {
    const uint32_t crc = crc32(member.data);
    const size_t local = out.size();
    putLE(out, 0x04034b50, 4);
    putLE(out, 20, 2);
    putLE(out, 0, 2);
    putLE(out, member.method, 2);
    putLE(out, 0, 4);  // time and date
    putLE(out, crc, 4);
    putLE(out, member.data.size(), 4);
    putLE(out, member.data.size(), 4);
    putLE(out, member.name.size(), 2);
    putLE(out, 0, 2);
    out += member.name + member.data;

    putLE(directory, 0x02014b50, 4);
    putLE(directory, 20, 2);
    putLE(directory, 20, 2);
    putLE(directory, 0, 2);
    putLE(directory, member.method, 2);
    putLE(directory, 0, 4);
    putLE(directory, crc, 4);
    putLE(directory, member.data.size(), 4);
    putLE(directory, member.data.size(), 4);
    putLE(directory, member.name.size(), 2);
    putLE(directory, 0, 2);  // extra
    putLE(directory, 0, 2);  // comment
    putLE(directory, 0, 2);  // disk
    putLE(directory, 0, 2);  // internal attributes
    putLE(directory, 0, 4);  // external attributes
    putLE(directory, local, 4);
    directory += member.name;
  }
  const size_t directoryOffset = out.size();
  out += directory;
  putLE(out, 0x06054b50, 4);
  putLE(out, 0, 4);  // disk numbers
  putLE(out, members.size(), 2);
  putLE(out, members.size(), 2);
  putLE(out, directory.size(), 4);
  putLE(out, directoryOffset, 4);
  putLE(out, comment.size(), 2);
  return out + comment;
}

std::string headArchive(const std::vector<HeadTensor>& tensors) {
  return zipArchive(headArchiveMembers(tensors));
}

std::string headConfigJson() {
  return R"({"format": "tessera_head.v1", "retrieval": {"kshort": 512, "aperture_tol": 0.3, "cut": 96, "K": 64},
  "temporal": {"hysteresis": 8, "lookahead": 8}, "decode": {"envelope_clamp_255": 12.0}})";
}

}  // namespace ko::authoring
