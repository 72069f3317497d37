// `ko speak`: a speech file spoken by a bundle's identity through the utterance pipeline and written
// as a movie with its sound, the way a host drives the library for live speech.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/ko/bundle_access.h"
#include "tools/ko/commands.h"
#include "tools/ko/contact_sheet.h"
#include "tools/ko/frame_output.h"
#include "tools/ko/offline_speech.h"
#include "tools/ko/progress_bar.h"
#include "tools/ko/speech_run.h"
#include "tools/ko/stage_clock.h"
#include "tools/ko/teeth_attach.h"
#include "tools/media/speech_reader.h"

namespace ko::cli {
namespace {

constexpr int kFps = 25;
constexpr int kRampFrames = 6;  // the pipeline's default blend back to idle

constexpr const char* kSpeakHelp =
    "usage: ko speak BUNDLE --motion DIR --audio FILE --out OUT.mp4 [--model KEY] [--realtime]\n"
    "                [--sheet PNG] [--teeth | --no-teeth] [--offline]\n"
    "Speaks FILE (anything FFmpeg reads: WAV, MP3, ...; converted to 16 kHz mono) as one utterance\n"
    "through the utterance pipeline, with the audio model of the motion directory DIR and the director\n"
    "model_KEY.onnx, and writes every frame the pipeline delivers, up to the end of the blend back to\n"
    "idle, as an H.264 movie at 25 frames/s with the speech as its AAC sound track.\n"
    "  --model KEY  the director (default: the bundle's only model_*.onnx)\n"
    "  --realtime   push the speech 40 ms at a time as it would arrive live, and pull a frame every\n"
    "               40 ms (default: push it all at once and pull frames as fast as they come)\n"
    "  --sheet PNG  also write a contact sheet: a grid of 12 speech frames picked evenly\n"
    "  --teeth      borrow teeth from the bundle's teeth members, and stop if the bundle refuses them\n"
    "               (default: borrow them when the bundle declares them, else speak without)\n"
    "  --no-teeth   speak without borrowed teeth\n"
    "  --offline    render the whole utterance through the offline stream instead: the FCA model of\n"
    "               the bundle's fca_stream.onnx, the director model_render.onnx, every frame speech\n"
    "               (no idle lead or blend), rendering and pasting overlapped; not with --model or\n"
    "               --realtime, --teeth\n"
    "When DIR holds w2v_8s.onnx and W2V_ONNX is unset, the speech encoder is that file. A summary of\n"
    "the frames by kind, the first speech frame's latency, the sustained frame rate and the library's\n"
    "render and paste times ends the run.\n";

struct SpeakJob {
  std::string bundle, motion, audio, out, model, sheet;
  bool realtime = false;
  bool offline = false;
  TeethChoice teeth = TeethChoice::Auto;
};

std::optional<SpeakJob> speakJob(const std::vector<std::string>& args) {
  const std::optional<Arguments> parsed = parseArguments(args, {"motion", "audio", "out", "model", "sheet"},
                                                         {"realtime", "offline", "teeth", "no-teeth"});
  if (!parsed || parsed->positional.size() != 1) return std::nullopt;
  const auto& options = parsed->options;
  for (const char* required : {"motion", "audio", "out"}) {
    if (!options.contains(required)) return std::nullopt;
  }
  SpeakJob job;
  job.bundle = parsed->positional[0];
  job.motion = options.at("motion");
  job.audio = options.at("audio");
  job.out = options.at("out");
  if (options.contains("model")) job.model = options.at("model");
  if (options.contains("sheet")) job.sheet = options.at("sheet");
  job.realtime = options.contains("realtime");
  job.offline = options.contains("offline");
  if (options.contains("teeth") && options.contains("no-teeth")) return std::nullopt;
  if (options.contains("teeth")) job.teeth = TeethChoice::Required;
  if (options.contains("no-teeth") || job.offline) job.teeth = TeethChoice::Off;
  if (job.offline && (job.realtime || !job.model.empty() || options.contains("teeth"))) return std::nullopt;
  return job;
}

// The key of the bundle's only keyed director, or nullopt after saying why there is no one choice.
std::optional<std::string> soleDirector(const std::string& bundle) {
  const std::optional<std::string> dir = bundleDirectory(bundle);
  if (!dir) {
    libraryError();
    return std::nullopt;
  }
  std::vector<std::string> keys;
  for (const std::string& network : directorNetworks(*dir)) {
    if (!directorKey(network).empty()) keys.push_back(directorKey(network));
  }
  if (keys.size() == 1) return keys[0];
  std::string listed;
  for (const std::string& key : keys) listed += (listed.empty() ? "" : ", ") + key;
  std::fprintf(stderr, "ko speak: the bundle holds %zu directors%s; choose one with --model KEY\n",
               keys.size(), keys.empty() ? "" : (" (" + listed + ")").c_str());
  return std::nullopt;
}

// The library's environment for this run, unless the caller set it: the motion directory's own
// speech encoder, and the pipeline's stage report for the summary.
void prepareEnvironment(const std::string& motion) {
  const std::string encoder = motion + "/w2v_8s.onnx";
  std::error_code error;
  if (std::filesystem::is_regular_file(encoder, error)) setenv("W2V_ONNX", encoder.c_str(), 0);
  setenv("KO_UTT_STAGE_REPORT", "1", 0);
}

int uttError() {
  std::fprintf(stderr, "ko: %s\n", ko_utt_last_error());
  return 1;
}

bool waitForModel(ko_utt* utt) {
  for (;;) {
    const int ready = ko_utt_ready(utt);
    if (ready != 0) return ready == 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The movie being written: the speech starts with the first speech frame, after as much silence as
// the idle frames ahead of it last.
class SpokenMovie {
 public:
  SpokenMovie(const SpeakJob& job, int width, int height, const std::vector<int16_t>& speech)
      : speech_(speech),
        movie_(openSpokenMovie(job.out, width, height, kFps, tools::kSpeechRate)),
        progress_(speechFrames() + kRampFrames) {
    if (!job.sheet.empty()) sheet_ = std::make_unique<ContactSheet>(width, height, speechFrames());
  }

  void write(const uint8_t* rgb, const ko_utt_frame_info& info) {
    if (info.kind == 1 && !speaking_) startSpeech();
    clock_.time(0, [&] {
      movie_->encodeRgb(rgb);
      return 0;
    });
    if (info.kind == 1 && sheet_) sheet_->offer(info.ordinal, rgb);
    progress_.update(std::min(++frames_, speechFrames() + kRampFrames));
  }

  void finish(const std::string& sheetPath) {
    progress_.close();
    if (!speaking_) startSpeech();
    clock_.time(0, [&] {
      movie_->finish();
      return 0;
    });
    if (sheet_) sheet_->write(sheetPath);
  }

  const StageClock& clock() const { return clock_; }

 private:
  int speechFrames() const {
    return static_cast<int>((speech_.size() + kSamplesPerFrame - 1) / kSamplesPerFrame);
  }

  void startSpeech() {
    const std::vector<int16_t> lead(static_cast<size_t>(frames_) * kSamplesPerFrame, 0);
    movie_->encodeAudio(lead.data(), lead.size());
    movie_->encodeAudio(speech_.data(), speech_.size());
    speaking_ = true;
  }

  const std::vector<int16_t>& speech_;
  std::unique_ptr<tools::MovieEncoder> movie_;
  std::unique_ptr<ContactSheet> sheet_;
  ProgressBar progress_;
  StageClock clock_{{"encode"}};
  int frames_ = 0;
  bool speaking_ = false;
};

void printSummary(const SpeakJob& job, const SpeechRunReport& run, const ko_utt_stats& stats,
                  const StageClock& clock, size_t samples) {
  std::printf("spoke %.2f s of speech: %d frames (%d idle, %d speech, %d blend",
              samples / double(tools::kSpeechRate), run.idle + run.speech + run.repeated + run.blend,
              run.idle, run.speech, run.blend);
  if (run.repeated > 0) std::printf(", %d lost speech frames repeated", run.repeated);
  std::printf(") in %.2f s, %s\n", run.seconds, job.realtime ? "paced at real time" : "as fast as they came");
  std::printf("first speech frame %.0f ms after the first push; then %.1f frames/s sustained",
              run.firstSpeechMs, run.sustainedFps);
  if (job.realtime) std::printf(", %d frame periods found no frame waiting", run.latePulls);
  std::printf("\n  render  %.2f ms a speech frame (the library's running average)\n%s", stats.render_ms,
              clock.table().c_str());
  std::printf("wrote %s\n", job.out.c_str());
  if (!job.sheet.empty()) std::printf("wrote %s\n", job.sheet.c_str());
}

int speakWith(const SpeakJob& job, ko_ctx* ctx, const std::vector<int16_t>& speech) {
  Pipeline utt(ko_utt_open(ctx, job.motion.c_str()));
  if (!utt || !waitForModel(utt.get())) return uttError();
  if (!armTeeth(utt.get(), job.bundle, job.teeth)) return 1;
  SpokenMovie movie(job, ko_width(ctx), ko_height(ctx), speech);
  const size_t frameBytes = static_cast<size_t>(ko_width(ctx)) * static_cast<size_t>(ko_height(ctx)) * 3;
  SpeechRun run(utt.get(), frameBytes,
                [&](const uint8_t* rgb, const ko_utt_frame_info& info) { movie.write(rgb, info); });
  if (!run.speak(speech, job.realtime)) {
    std::fprintf(stderr, "ko speak: %s\n", run.failure().c_str());
    return 1;
  }
  movie.finish(job.sheet);
  ko_utt_stats stats{};
  ko_utt_get_stats(utt.get(), &stats);
  printTeethSummary(utt.get());
  utt.reset();  // prints the library's stage report
  std::fflush(stderr);
  printSummary(job, run.report(), stats, movie.clock(), speech.size());
  return 0;
}

// The offline stream takes the 8 s encoder's path rather than reading the environment.
int speakWholeUtterance(const SpeakJob& job, const std::vector<int16_t>& speech) {
  const char* encoder = std::getenv("W2V_ONNX");
  if (!encoder || !*encoder) {
    std::fprintf(stderr,
                 "ko speak: --offline needs the 8 s speech encoder: set W2V_ONNX or put w2v_8s.onnx in %s\n",
                 job.motion.c_str());
    return 1;
  }
  return speakOffline({job.bundle, encoder, job.out, job.sheet}, speech);
}

int speak(SpeakJob job) {
  if (job.model.empty() && !job.offline) {
    const std::optional<std::string> key = soleDirector(job.bundle);
    if (!key) return 1;
    job.model = *key;
  }
  try {
    const std::vector<int16_t> speech = tools::readSpeech(job.audio);
    if (speech.empty()) {
      std::fprintf(stderr, "ko speak: %s holds no sound to speak\n", job.audio.c_str());
      return 1;
    }
    prepareEnvironment(job.motion);
    if (job.offline) return speakWholeUtterance(job, speech);
    const Session session(ko_create(job.bundle.c_str(), job.model.c_str(), 0, nullptr));
    if (!session) return libraryError();
    return speakWith(job, session.get(), speech);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ko speak: %s\n", failure.what());
    return 1;
  }
}

int runSpeak(const std::vector<std::string>& args) {
  const std::optional<SpeakJob> job = speakJob(args);
  if (!job) return usageError(kSpeakHelp);
  return speak(*job);
}

}  // namespace

const Command kSpeakCommand{"speak", kSpeakHelp, runSpeak};

}  // namespace ko::cli
