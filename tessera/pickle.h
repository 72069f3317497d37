// A pickle interpreter for PyTorch state dicts: exactly the opcodes and the three callables such a
// pickle uses, everything else refused. A pickle is untrusted input: every operand is bounds-checked,
// tuples nest at most kMaxPickleNesting deep, and the memo grows only as far as the pickle could use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ko::tessera {

inline constexpr int kMaxPickleNesting = 64;

struct PVal {
  enum Kind : int32_t { None, Integer, Boolean, String, Tuple, Global, Storage, Tensor, Dict };
  int32_t kind = None;
  int64_t i = 0;
  std::string s;  // text; "module name" of a global; the storage key of a storage reference
  // A tuple's elements, shared between copies so that re-pushing a memoised value costs nothing.
  std::shared_ptr<const std::vector<PVal>> items;
  std::string key;  // a tensor's storage key
  int64_t offset = 0;
  std::vector<int64_t> shape;
  int depth = 0;  // tuple nesting below this value

  size_t size() const { return items ? items->size() : 0; }
  const PVal& item(size_t k) const { return (*items)[k]; }
};

using NamedTensor = std::pair<std::string, PVal>;

// The string-keyed tensors of every dictionary in the pickle, in order of appearance.
std::vector<NamedTensor> readStateDictPickle(std::string_view pickle);

}  // namespace ko::tessera
