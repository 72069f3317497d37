// Donor bank tracks: one painted mouth patch per frame, encoded losslessly with FFmpeg in the
// sidecar's pixel format, so a decode can be compared with what went in byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko::authoring {

using RgbPatch = std::vector<uint8_t>;  // bandW x bandH packed RGB24

// n patches with distinct, smooth content: an open mouth whose aperture grows with the index, teeth
// in it, lips around it.
std::vector<RgbPatch> paintedDonors(int n, int bandW, int bandH);

// Writes the patches, in the order given, as an H.264 track: "rgb24" through libx264rgb (exact RGB),
// any other format through libx264 at quantizer 0. Throws on failure.
void writeBankTrack(const std::string& path, const std::vector<RgbPatch>& frames, int bandW, int bandH,
                    const std::string& pixFmt = "rgb24");

}  // namespace ko::authoring
