// manifest.json: the figures of an identity bundle that every later stage reads.
#pragma once

#include <cstdint>
#include <string>

namespace ko {

struct Manifest {
  std::string dir;          // bundle directory after resolution; members resolve against it
  std::string agent;        // the identity's name as the bundle states it
  int32_t NT = 0;           // source frames ("NT", alias "frame_count")
  int32_t H = 0;            // canvas height of the driver frame
  int32_t W = 0;            // canvas width of the driver frame
  int32_t M_src_w = 0;      // canvas the paste transforms were authored on ("M_src_w"/"paste_source_width")
  int32_t M_src_h = 0;      // ("M_src_h"/"paste_source_height")
  int32_t crop = 512;       // edge of the square face crop ("crop", alias "crop_size")
  float amount = 1.3f;      // paste unsharp amount
  float sigma = 2.0f;       // paste unsharp Gaussian sigma
  int32_t ksize = 13;       // paste unsharp kernel size
  int32_t frames = 0;       // rows of the idle-loop tables
  std::string lipTemplate;  // text of "lip_template.v1.json", empty when the bundle has none
  // Member names as the manifest gives them; a missing or empty key keeps the default.
  std::string driverFrames = "target_frames";     // the driver's JPEG directory ("target_frames")
  std::string driverMovie = "target_frames.mp4";  // the driver movie ("target_frames_mp4")
  std::string priorRaw = "P.f16";                 // the raw warp prior ("P_rgb")
  std::string priorMovie;                         // the warp prior movie ("P_hevc"), empty when unnamed

  // Path of the network member "model_<key>.onnx" (aliases and the IMX unwrap apply). Does not
  // check that the file exists.
  std::string modelPath(const std::string& key) const;
  // The prior movie's member name: the one the manifest names, else "P_hevc.mov".
  std::string priorMovieMember() const;
};

// Resolves the bundle (unpacking a container once), reads and validates manifest.json, reads the
// lip template. Throws a runtime error carrying a whole sentence on any failure.
Manifest loadManifest(const std::string& bundlePath);

}  // namespace ko
