// The blend head's weights, read from the bundle's PyTorch archive by the library's own ZIP and
// pickle readers.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace ko::tessera {

// Layout of every weight: output channel, input channel, kernel row, kernel column.
struct HeadWeights {
  std::vector<float> cand0_w;  // "cand.0.weight" 16 x 7 x 3 x 3
  std::vector<float> cand0_b;  // "cand.0.bias" 16
  std::vector<float> cand2_w;  // "cand.2.weight" 16 x 16 x 3 x 3
  std::vector<float> cand2_b;  // "cand.2.bias" 16
  std::vector<float> cand4_w;  // "cand.4.weight" 1 x 16 x 3 x 3
  std::vector<float> cand4_b;  // "cand.4.bias" 1
  std::vector<float> syn0_w;   // "syn.0.weight" 16 x 3 x 3 x 3, empty without a synthesis branch
  std::vector<float> syn0_b;   // "syn.0.bias" 16
  std::vector<float> syn2_w;   // "syn.2.weight" 1 x 16 x 3 x 3
  std::vector<float> syn2_b;   // "syn.2.bias" 1
  float envelope = 12.0f / 255.0f;

  // Elements of the ten tensors: 3489 for the candidate branch alone, 4082 with the synthesis branch.
  uint32_t params() const;
};

// Throws a runtime error with the sentence of the first refusal of the archive, its pickle or its
// tensors.
HeadWeights loadHeadPt(std::string_view archive);

}  // namespace ko::tessera
