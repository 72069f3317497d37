// What a motion directory holds besides its networks: "meta.json" and the raw float tables, each
// read whole and checked against the exact count the model needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ko::motion {

struct MotionMeta {
  int64_t nt = 0;    // rows of xs_target.bin (driver frames)
  int64_t nSrc = 0;  // rows of src_xs_info.bin
  int64_t nEmo = 0;  // rows of emo.bin
  float sBridge = 0;
  float deltaPitch = 0;
};

// The number after "\"key\"" and a ':' (blanks allowed around it). Throws "meta.json: missing <key>"
// when the key is absent and "meta.json: bad <key>" when no ':' and number follow it.
double metaNumber(const std::string& text, const char* key);

// Parses the meta text; refuses counts that are not whole numbers of at least 1 (0 rows of idle
// keypoints or emotions would leave frames with nothing to play) and n_src != nt.
MotionMeta parseMotionMeta(const std::string& text);

// Exactly `want` little-endian floats from the start of the file. Throws "cannot open <path>" or
// "short read <path>: <got> floats, expected <want>".
std::vector<float> readFloats(const std::string& path, size_t want);

struct MotionTables {
  MotionMeta meta;
  std::vector<float> window;     // 512: the analysis window
  std::vector<float> melMatrix;  // 257 x 80, bin-major
  std::vector<float> featMean;   // 1024
  std::vector<float> featStd;    // 1024
  std::vector<float> emotion;    // nEmo x 8
  std::vector<float> reference;  // 328: the reference frame's motion parameters
  std::vector<float> sc;         // 63
  std::vector<float> eyeOpen;    // 2
  std::vector<float> eyeBall;    // 6
  std::vector<float> lower;      // 265 clamp bounds
  std::vector<float> upper;      // 265
  std::vector<float> source;     // nSrc x 328
  std::vector<float> xsTarget;   // nt x 63
};

// Reads every table of the directory (already resolved to a directory).
MotionTables readMotionTables(const std::string& dir);

}  // namespace ko::motion
