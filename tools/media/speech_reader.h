// Speech for the lip-sync pipeline from any file FFmpeg reads (WAV, MP3, M4A, FLAC, Ogg, a movie's
// sound...), in the one form the pipeline listens to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko::tools {

inline constexpr int kSpeechRate = 16000;

// The first audio stream of `path`, decoded to its end and converted to kSpeechRate mono 16-bit
// samples. Throws a std::runtime_error naming the path and FFmpeg's reason.
std::vector<int16_t> readSpeech(const std::string& path);

}  // namespace ko::tools
