// The teeth pass: for each rendered face crop it finds the mouth, retrieves the donor mouths that best
// match the frame's visible teeth, lets the blend head weigh them per pixel and returns the crop's
// mouth window with the blend mixed in by the compose mask pi. Donor choices carry over from frame to
// frame and look one frame ahead, so a frame comes out when the next one goes in.
//
// Crops are canvas_w x canvas_h packed RGB, masks one byte per crop pixel, windows window_h x
// window_w packed RGB. Pixel differences follow the half-precision rules of the retrieval kernels,
// so results do not depend on the processor. One thread drives a pass at a time; its calls use the
// worker pool inside.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessera/donor_patches.h"
#include "tessera/geometry_stamp.h"
#include "tessera/head_weights.h"
#include "tessera/serve_config.h"

namespace ko::tessera {

// The decoded bank as the pass is given it.
struct BankData {
  std::vector<uint8_t> bands;  // n_donors stored patches in donor order, packed RGB
  std::vector<double> cent;    // per donor its mouth centre (x, y) in crop pixels
  double c_canon[2] = {0, 0};
  std::vector<double> aperture;
  GeometryStamp stamp;
  int32_t n_donors = 0;
};

// A frame's mouth shift in whole pixels, rows then columns.
struct FrameShift {
  int32_t sy = 0;
  int32_t sx = 0;
};

struct FrameResult {
  std::vector<uint8_t> window;  // empty when skipped
  bool skipped = false;
  std::string reason;  // why it was skipped
  int32_t n_chosen = 0;
  float syn_mean = 0;  // over the valid pixels
  float syn_max = 0;
};

// A frame's teeth region and query, as retrieval scores donors against it.
struct RetrievalQuery {
  std::vector<uint8_t> window;   // the crop's window at the frame's shift, black outside the crop
  std::vector<uint16_t> halves;  // the window as 3 half planes of H x W
  std::vector<float> teeth;      // the teeth weights t, one per window pixel
  float wsum = 1;
  int32_t r0 = 0;  // window rows [r0, r1) hold every non-zero weight
  int32_t r1 = 0;
  std::vector<uint16_t> pooledQuery;    // 3 planes of Hp x Wp halves
  std::vector<uint16_t> pooledWeights;  // Hp x Wp halves
  float wp = 1;
};

// Every stage of one retrieval, so each can be checked.
struct Retrieval {
  std::vector<float> pooled;       // per donor
  std::vector<int32_t> shortlist;  // donors by ascending pooled score
  std::vector<float> exact;        // per shortlisted donor
  std::vector<int32_t> selected;   // exactly K donors
};

struct TeethStats {
  int64_t frames = 0;  // frames that produced valid pixels
  int64_t validPixels = 0;
  double synMeanSum = 0;
  double synMax = 0;
};

class TeethPass {
 public:
  // Throws the stamp's refusal, a bank whose sizes disagree with the stamp or n_donors, an odd
  // window side, or a serving configuration that leaves no candidate.
  TeethPass(const BankData& bank, const HeadWeights& weights, const ServeConfig& config);

  // Holds this frame and fills `result` with the previous one; false when none was held. A null shift
  // lets the pass find the mouth in pi.
  bool push(int32_t frame, const uint8_t* crop, const uint8_t* pi, const FrameShift* shift,
            FrameResult& result);
  // Emits the held frame, if any, without look-ahead.
  bool flush(FrameResult& result);

  // False with "empty-pi" or "shift-out-of-range" in `reason` when the frame has no usable shift.
  bool deriveShift(const uint8_t* pi, const FrameShift* shift, FrameShift& out, std::string& reason) const;
  // Also updates the teeth mask carried to the next frame.
  RetrievalQuery retrievePrepare(const uint8_t* crop, const uint8_t* pi, FrameShift shift);
  Retrieval retrieve(const RetrievalQuery& query) const;
  // The unnormalised exact score of one donor's canonical window against the query's rows [r0, r1);
  // `donorHalves` is scratch for 3 x H x W halves.
  float exactTermFromBand(int32_t donor, const RetrievalQuery& query,
                          std::vector<uint16_t>& donorHalves) const;
  std::vector<int32_t> retrieveSelect(const std::vector<int32_t>& shortlist,
                                      const std::vector<float>& exact) const;

  // Candidate windows at the frame's shift as planes of byte/255: donors.size() x 3 x H x W.
  std::vector<float> gatherWindowsU8(const std::vector<int32_t>& donors, FrameShift shift) const;
  void gatherWindowsU8(const std::vector<int32_t>& donors, FrameShift shift,
                       std::vector<float>& planes) const;
  // The donor's canonical window as 3 half planes of H x W; the Rows form fills window rows
  // [rowBegin, rowEnd) only.
  void canonicalWindowF16(int32_t donor, uint16_t* out) const;
  void canonicalWindowF16Rows(int32_t donor, uint16_t* out, int32_t rowBegin, int32_t rowEnd) const;
  // The blend head over kc candidates: Y gets 3 planes, w kc + 1 weight planes (the last one the
  // synthesis weight, 0).
  void headForward(const float* candidates, int32_t kc, const float* query, const uint8_t* valid, float* Y,
                   float* w) const;
  // The same over `distinct` candidate windows, candidate k being window slots[k]: a donor that
  // appears more than once runs through the convolutions once, and the result is headForward's.
  void headForwardDistinct(const float* candidates, int32_t distinct, const std::vector<int32_t>& slots,
                           const float* query, const uint8_t* valid, float* Y, float* w) const;

  // The candidates blended for frame `frame` whose retrieved donors are `list`, given the next frame's
  // list (null when there is none) and the set carried over from the last emitted frame.
  std::vector<int32_t> candidateSet(int32_t frame, const std::vector<int32_t>& list,
                                    const std::vector<int32_t>* nextList) const;
  // The most used candidates of the last emitted frame, and that frame (-2 before any).
  const std::vector<int32_t>& carriedSet() const { return previousSet_; }
  int32_t carriedFrame() const { return previousFrame_; }

  const TeethStats& stats() const { return stats_; }
  const GeometryStamp& stamp() const { return stamp_; }
  const std::vector<uint8_t>& bandMask() const { return bandMask_; }
  const std::vector<uint16_t>& donorIndex() const { return index_; }

 private:
  struct Pending {
    int32_t frame = 0;
    std::vector<uint8_t> crop;
    std::vector<uint8_t> pi;
    std::vector<int32_t> list;
    FrameShift shift;
    bool ok = false;
    std::string reason;
  };

  // The head's intermediate planes, kept from frame to frame so a frame allocates nothing large.
  struct HeadScratch {
    std::vector<float> pooledQuery;
    std::vector<float> input;
    std::vector<float> hidden1;
    std::vector<float> hidden2;
    std::vector<float> logits;
  };
  struct EmitScratch {
    std::vector<float> windows;
    std::vector<float> Y;
    std::vector<float> w;
  };

  void buildIndex();
  void emit(const Pending& pending, const std::vector<int32_t>* nextList, FrameResult& result);
  std::vector<uint8_t> validMask(const Pending& pending, const std::vector<int32_t>& candidates) const;
  std::vector<float> stampedQuery(const uint8_t* crop) const;
  void keepMostUsed(const std::vector<int32_t>& candidates, const float* w, int32_t frame);
  void addStats(const float* synthesis, const std::vector<uint8_t>& valid, FrameResult& result);
  void writeOutput(const Pending& pending, const std::vector<float>& query, const std::vector<float>& Y,
                   FrameResult& result) const;

  GeometryStamp stamp_;
  ServeConfig config_;
  HeadWeights weights_;
  int32_t nDonors_;
  std::vector<double> aperture_;
  double cCanon_[2];
  DonorPatches donors_;
  int32_t H_, W_, Hp_, Wp_;
  std::vector<uint16_t> index_;  // per donor 3 planes of Hp x Wp halves
  std::vector<uint8_t> bandMask_;
  std::vector<float> previousTeeth_;  // empty until the first retrieval
  std::vector<int32_t> previousSet_;
  int32_t previousFrame_ = -2;
  Pending pending_;
  bool holding_ = false;
  TeethStats stats_;
  mutable HeadScratch head_;
  EmitScratch emit_;
};

}  // namespace ko::tessera
