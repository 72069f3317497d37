// Synthetic teeth-pass inputs: a bank of random donor patches on the small stamp, blend-head weights
// written and read back through the archive writer, small serving knobs so a few dozen donors make a
// real choice, and crops with a bright mouth under an elliptical pi.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessera/teeth_pass.h"

namespace ko::test {

struct TeethScene {
  tessera::BankData bank;
  tessera::HeadWeights weights;
  tessera::ServeConfig config;
  std::string headPt;
  std::string headJson;  // the configuration's text, with config's knobs
};

// nDonors donors on `stamp` (the small stamp when omitted), their centres within 3 px of the
// canonical one.
TeethScene teethScene(int32_t nDonors, uint32_t seed);
TeethScene teethScene(int32_t nDonors, uint32_t seed, const tessera::GeometryStamp& stamp);

struct TeethFrame {
  std::vector<uint8_t> crop;  // canvas_w x canvas_h packed RGB
  std::vector<uint8_t> pi;    // canvas_w x canvas_h
};

// Random crop bytes, a pale mouth of teeth-coloured pixels, and pi 255 on an ellipse filling most of
// the window around the canonical centre moved by (sy, sx), with a soft rim.
TeethFrame teethFrame(const tessera::BankData& bank, tessera::FrameShift shift, uint32_t seed);

}  // namespace ko::test
