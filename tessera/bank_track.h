// Decoding the donor bank's video track from memory into donor-order RGB24 patches, with FFmpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ko::tessera {

// The bytes a decode reads from, and where it has got to.
struct MemoryInput {
  const uint8_t* data = nullptr;
  size_t length = 0;
  size_t position = 0;
};

// FFmpeg's read and seek callbacks over a MemoryInput.
int memRead(void* opaque, uint8_t* buf, int size);
int64_t memSeek(void* opaque, int64_t offset, int whence);

// n_donors patches of band_h x band_w packed RGB24, frame k of the track stored in donor slot
// track_order[k]. Throws the first refusal's sentence; nothing partial is returned.
std::vector<uint8_t> decodeBankTrack(const uint8_t* data, size_t len, int32_t n_donors, int32_t band_h,
                                     int32_t band_w, const std::vector<int32_t>& track_order);

// "libavcodec <version of the headers built against> / <avcodec_configuration()>".
std::string bankDecoderBuild();

}  // namespace ko::tessera
