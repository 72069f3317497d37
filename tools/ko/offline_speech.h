// `ko speak --offline`: the same speech rendered through the offline stream instead of the live
// pipeline, into the same movie and contact sheet, so the two paths can be compared on one audio file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko::cli {

struct OfflineSpeech {
  std::string bundle, encoder, out, sheet;
};

// Speaks `speech` (16 kHz mono) as one utterance through ko_stream and writes the movie (the speech
// from its first frame) and, when asked, the sheet. Returns the process's exit status, after printing
// the library's refusal or the run's figures.
int speakOffline(const OfflineSpeech& job, const std::vector<int16_t>& speech);

}  // namespace ko::cli
