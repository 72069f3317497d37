#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
}

#include "driver/source.h"
#include "tests/support/failure_text.h"
#include "tests/support/movie_writer.h"
#include "tests/support/temp_dir.h"

namespace ko {
namespace {

using Frame = std::vector<uint8_t>;
using test::Chroma;
using test::MovieRecipe;

constexpr int32_t kFrames = 6, kWidth = 64, kHeight = 48, kCrop = 32;

std::string builtAvcodecVersion() {
  return std::to_string(LIBAVCODEC_VERSION_MAJOR) + "." + std::to_string(LIBAVCODEC_VERSION_MINOR) + "." +
         std::to_string(LIBAVCODEC_VERSION_MICRO);
}

MovieRecipe driverRecipe(int frames = kFrames) {
  MovieRecipe recipe;
  recipe.width = kWidth;
  recipe.height = kHeight;
  recipe.frames = frames;
  return recipe;
}

MovieRecipe priorRecipe(const std::string& codec = "libx264") {
  MovieRecipe recipe;
  recipe.width = recipe.height = kCrop;
  recipe.fullChroma = true;
  recipe.codec = codec;
  return recipe;
}

Frame driverFrame(const MovieRecipe& recipe, int index) {
  return test::expectedRgb(test::moviePicture(recipe, index));
}

Frame priorFrame(const MovieRecipe& recipe, int index) {
  const std::vector<uint16_t> halves = test::expectedHalfPlanes(test::moviePicture(recipe, index));
  Frame bytes(2 * halves.size());
  std::memcpy(bytes.data(), halves.data(), bytes.size());
  return bytes;
}

std::vector<Frame> driverFrames(const MovieRecipe& recipe, int count) {
  std::vector<Frame> frames;
  for (int i = 0; i < count; ++i) frames.push_back(driverFrame(recipe, i));
  return frames;
}

Frame nextFrame(driver::Source& source) {
  Frame frame(source.frameBytes());
  EXPECT_TRUE(source.next(frame.data()));
  return frame;
}

// What a source delivers until next() says false or throws.
struct Playback {
  std::vector<Frame> frames;
  std::string failure;
};

Playback play(driver::Source& source) {
  Playback playback;
  Frame frame(source.frameBytes());
  playback.failure = test::failureText([&] {
    while (source.next(frame.data())) playback.frames.push_back(frame);
  });
  return playback;
}

std::vector<Frame> playToEnd(driver::Source& source) {
  Playback playback = play(source);
  EXPECT_EQ(playback.failure, test::kNoFailure);
  return playback.frames;
}

int countLines(const std::string& text, const std::string& line) {
  std::istringstream lines(text);
  int count = 0;
  for (std::string candidate; std::getline(lines, candidate);) count += candidate == line;
  return count;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The largest packet of the first stream, read with libavformat directly.
int largestPacket(const std::string& path) {
  AVFormatContext* container = nullptr;
  if (avformat_open_input(&container, path.c_str(), nullptr, nullptr) < 0) return -1;
  AVPacket* packet = av_packet_alloc();
  int largest = 0;
  while (av_read_frame(container, packet) >= 0) {
    if (packet->stream_index == 0) largest = std::max(largest, packet->size);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&container);
  return largest;
}

const std::string kNotAttempted =
    "[ko-driver] KO_DRIVER_HWDEC=0 — h264_cuvid not attempted; the software decoder is the one decoder on "
    "this fleet (same samples)";

std::string refusedLine(const std::string& path) {
  return "[ko-driver] h264_cuvid refused " + path +
         " — falling back to the software h264 decoder (same samples, more CPU)";
}

class MovieSourceTest : public ::testing::Test {
 protected:
  std::string movie(const std::string& name, const MovieRecipe& recipe) const {
    const std::string path = dir_ / name;
    test::writeMovie(path, recipe);
    return path;
  }

  template <class Pictures>
  std::string movie(const std::string& name, const MovieRecipe& recipe, Pictures pictures) const {
    const std::string path = dir_ / name;
    test::writeMovie(path, recipe, pictures);
    return path;
  }

  // The software decoder, whatever the machine has; the hardware path has its own tests.
  test::ScopedEnv softwareOnly_{"KO_DRIVER_HWDEC", "0"};
  test::TempDir dir_;
};

using DriverMovieFrames = MovieSourceTest;
using PriorMovieFrames = MovieSourceTest;
using MovieSourcePosition = MovieSourceTest;
using MovieSourceRefusals = MovieSourceTest;
using MovieSourceDescription = MovieSourceTest;
using HardwareDecoder = MovieSourceTest;

TEST_F(DriverMovieFrames, EqualTheRgbOfTheEncodedPicturesInEveryContainerUpToTheManifestsCount) {
  for (const std::string name : {"driver.mp4", "driver.mov", "driver.mkv", "driver.h264", "longer.mkv"}) {
    SCOPED_TRACE(name);
    // The longer movie's container counts nothing, so only the manifest's count stops it.
    const MovieRecipe recipe = driverRecipe(name.starts_with("longer") ? kFrames + 2 : kFrames);
    auto source = driver::openMp4(movie(name, recipe), kFrames, kWidth, kHeight);
    EXPECT_EQ(playToEnd(*source), driverFrames(recipe, kFrames));
    source->rewind();
    EXPECT_EQ(playToEnd(*source), driverFrames(recipe, kFrames));
  }
}

TEST_F(DriverMovieFrames, LimitedRangeBlackIsZeroAndWhiteIsFull) {
  const std::string path = movie("levels.mp4", driverRecipe(2), [](int index) {
    const uint8_t luma = index == 0 ? 16 : 235;
    return test::uniformPicture(kWidth, kHeight, Chroma::Yuv420p, luma, 128, 128);
  });
  auto source = driver::openMp4(path, 2, kWidth, kHeight);
  EXPECT_EQ(nextFrame(*source), Frame(kWidth * kHeight * 3, 0));
  EXPECT_EQ(nextFrame(*source), Frame(kWidth * kHeight * 3, 255));
}

TEST_F(PriorMovieFrames, EqualTheHalfPlanesOfTheEncodedPictures) {
  for (const std::string codec : {"libx264", "libx265"}) {
    if (!avcodec_find_encoder_by_name(codec.c_str())) continue;
    SCOPED_TRACE(codec);
    const MovieRecipe recipe = priorRecipe(codec);
    auto source = driver::openPriorHevc(movie("prior_" + codec + ".mov", recipe), kFrames, kCrop);
    std::vector<Frame> expected;
    for (int i = 0; i < kFrames; ++i) expected.push_back(priorFrame(recipe, i));
    EXPECT_EQ(playToEnd(*source), expected);
  }
}

TEST_F(PriorMovieFrames, LimitedRangeBlackIsZeroAndWhiteIsOne) {
  MovieRecipe recipe = priorRecipe();
  recipe.frames = 2;
  const std::string path = movie("levels.mov", recipe, [](int index) {
    const uint8_t luma = index == 0 ? 16 : 235;
    return test::uniformPicture(kCrop, kCrop, Chroma::Yuv444p, luma, 128, 128);
  });
  auto source = driver::openPriorHevc(path, 2, kCrop);
  const auto halves = [&] {
    const Frame bytes = nextFrame(*source);
    std::vector<uint16_t> values(bytes.size() / 2);
    std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
  };
  EXPECT_EQ(halves(), std::vector<uint16_t>(3 * kCrop * kCrop, 0x0000));
  EXPECT_EQ(halves(), std::vector<uint16_t>(3 * kCrop * kCrop, 0x3C00));
}

TEST_F(MovieSourcePosition, NextEndsAfterTheLastFrameAndRewindStartsOver) {
  const MovieRecipe recipe = driverRecipe();
  auto source = driver::openMp4(movie("driver.mp4", recipe), kFrames, kWidth, kHeight);
  Frame frame(source->frameBytes(), 0x5A);
  for (int i = 0; i < kFrames; ++i) ASSERT_TRUE(source->next(frame.data()));
  const Frame last = frame;
  EXPECT_FALSE(source->next(frame.data()));
  EXPECT_FALSE(source->next(frame.data()));
  EXPECT_EQ(frame, last) << "a next that returns false writes nothing";
  source->rewind();
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, 0));
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, 1));
}

TEST_F(MovieSourcePosition, SeekForwardDecodesAndSeekBackRestarts) {
  const MovieRecipe recipe = driverRecipe();
  auto source = driver::openMp4(movie("driver.mp4", recipe), kFrames, kWidth, kHeight);
  source->seek(kFrames - 1);
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, kFrames - 1));
  Frame frame(source->frameBytes());
  EXPECT_FALSE(source->next(frame.data()));
  source->seek(0);
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, 0));
  source->seek(3);
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, 3));
  source->seek(2);
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, 2));
  source->seek(3);
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, 3));
}

TEST_F(MovieSourcePosition, SeekOutsideTheMemberOrBeyondTheEndOfAShortMovieIsRefused) {
  auto source = driver::openMp4(movie("driver.mp4", driverRecipe()), kFrames, kWidth, kHeight);
  for (const int32_t frame : {-1, kFrames}) {
    EXPECT_EQ(test::failureText([&] { source->seek(frame); }), "ko_driver: seek outside the member") << frame;
  }
  const std::string path = movie("short.mkv", driverRecipe(4));
  auto shortSource = driver::openMp4(path, kFrames, kWidth, kHeight);
  EXPECT_EQ(test::failureText([&] { shortSource->seek(5); }),
            "ko_driver: " + path + " ended at frame 4 while seeking to 5");
}

// A raw H.264 stream cannot seek back by timestamp, so a rewind opens it afresh.
TEST_F(MovieSourcePosition, AFailedReopenLeavesTheSourceAsItWas) {
  const MovieRecipe recipe = driverRecipe();
  const std::string path = movie("driver.h264", recipe), aside = dir_ / "aside.h264";
  auto source = driver::openMp4(path, kFrames, kWidth, kHeight);
  nextFrame(*source);
  nextFrame(*source);
  std::filesystem::rename(path, aside);
  EXPECT_EQ(test::failureText([&] { source->rewind(); }),
            "ko_driver: " + path + " is not a readable container");
  EXPECT_EQ(nextFrame(*source), driverFrame(recipe, 2));
  std::filesystem::rename(aside, path);
  testing::internal::CaptureStderr();
  source->rewind();
  EXPECT_EQ(countLines(testing::internal::GetCapturedStderr(), kNotAttempted), 1) << "the rewind re-opened";
  EXPECT_EQ(playToEnd(*source), driverFrames(recipe, kFrames));
}

TEST_F(MovieSourceRefusals, SomethingThatIsNotAVideoContainer) {
  const std::string missing = dir_ / "missing.mp4", garbage = dir_ / "garbage.mp4",
                    sound = dir_ / "sound.wav";
  test::writeBytes(garbage, std::string(4096, '\x7f'));
  test::writeSilentWav(sound, 1600);
  const std::string cut = movie("cut.mp4", driverRecipe());  // before its index
  test::truncateFile(cut, std::filesystem::file_size(cut) / 2);
  const auto openFailure = [](const std::string& path) {
    return test::failureText([&] { driver::openMp4(path, kFrames, kWidth, kHeight); });
  };
  for (const std::string& path : {missing, garbage, cut}) {
    EXPECT_EQ(openFailure(path), "ko_driver: " + path + " is not a readable container");
  }
  EXPECT_EQ(openFailure(sound), "ko_driver: " + sound + " has no video stream");
}

TEST_F(MovieSourceRefusals, AMovieOfAnotherSize) {
  const std::string driverPath = movie("driver.mp4", driverRecipe());
  EXPECT_EQ(
      test::failureText([&] { driver::openMp4(driverPath, kFrames, kWidth, kHeight + 2); }),
      "ko_driver: " + driverPath + " is 64x48, the manifest says 64x50 — refusing to rescale the driver");
  const std::string priorPath = movie("prior.mov", priorRecipe());
  EXPECT_EQ(
      test::failureText([&] { driver::openPriorHevc(priorPath, kFrames, kCrop - 2); }),
      "ko_driver: " + priorPath + " is 32x32, the manifest says 30x30 — refusing to rescale the driver");
}

TEST_F(MovieSourceRefusals, ADeclaredFrameCountOtherThanTheManifests) {
  const std::string path = movie("longer.mp4", driverRecipe(kFrames + 1));
  EXPECT_EQ(test::failureText([&] { driver::openMp4(path, kFrames, kWidth, kHeight); }),
            "ko_driver: " + path +
                " carries 7 frames, the manifest says NT=6 — member/manifest mismatch, refusing");
  MovieRecipe shorter = priorRecipe();
  shorter.frames = kFrames - 1;
  const std::string priorPath = movie("shorter.mov", shorter);
  EXPECT_EQ(test::failureText([&] { driver::openPriorHevc(priorPath, kFrames, kCrop); }),
            "ko_driver: " + priorPath +
                " carries 5 frames, the manifest says NT=6 — member/manifest mismatch, refusing");
}

// The driver is pasted as 4:2:0 and a prior is authored in 4:4:4; each refuses the other's layout.
TEST_F(MovieSourceRefusals, PicturesInTheOtherChromaLayout) {
  MovieRecipe fullDriver = driverRecipe(), subsampledPrior = priorRecipe();
  fullDriver.fullChroma = true;
  subsampledPrior.fullChroma = false;
  const std::string driverPath = movie("full_chroma.mp4", fullDriver);
  const std::string priorPath = movie("subsampled.mov", subsampledPrior);
  const auto nextFailure = [](const std::unique_ptr<driver::Source>& source) {
    Frame frame(source->frameBytes());
    return test::failureText([&] { source->next(frame.data()); });
  };
  EXPECT_EQ(
      nextFailure(driver::openMp4(driverPath, kFrames, kWidth, kHeight)),
      "ko_driver: " + driverPath +
          " decoded to yuv444p, not the 4:2:0 layout the canvas conversion is written for (yuv420p / nv12) — "
          "refusing rather than pasting onto a different pixel domain");
  EXPECT_EQ(nextFailure(driver::openPriorHevc(priorPath, kFrames, kCrop)),
            "ko_driver: " + priorPath +
                " decoded to yuv420p, not the yuv444p a warp prior is authored in — a subsampled prior is a "
                "different mouth, refusing");
}

// With the index first, a cut leaves a movie whose last frames are missing or broken: the source
// delivers the whole frames and then stops or reports the fault, never anything else.
TEST_F(MovieSourceRefusals, AMovieCutInItsMediaData) {
  MovieRecipe recipe = driverRecipe();
  recipe.indexFirst = true;
  const std::string whole = movie("whole.mp4", recipe);
  const uintmax_t size = std::filesystem::file_size(whole);
  for (const uintmax_t kept : {size / 2, size * 3 / 4, size - 10}) {
    SCOPED_TRACE(kept);
    const std::string path = dir_ / ("cut" + std::to_string(kept) + ".mp4");
    std::filesystem::copy_file(whole, path);
    test::truncateFile(path, kept);
    auto source = driver::openMp4(path, kFrames, kWidth, kHeight);
    const Playback playback = play(*source);
    const int delivered = static_cast<int>(playback.frames.size());
    EXPECT_LT(delivered, kFrames);
    EXPECT_EQ(playback.frames, driverFrames(recipe, delivered));
    if (playback.failure != test::kNoFailure) {
      const std::string fault =
          "ko_driver: " + path + " decode fault at frame " + std::to_string(delivered) + " (";
      EXPECT_EQ(playback.failure.substr(0, fault.size()), fault);
    }
  }
}

// A container that counts no frames, so the frame count can only come from the manifest.
TEST_F(MovieSourceDescription, NamesTheBuiltLibraryAndTheDecoderAndTakesTheGeometryFromTheManifest) {
  auto driverSource = driver::openMp4(movie("driver.mkv", driverRecipe()), kFrames + 3, kWidth, kHeight);
  EXPECT_EQ(driverSource->name(), "mp4/libavcodec " + builtAvcodecVersion() + " h264");
  EXPECT_EQ(driverSource->NT(), kFrames + 3);
  EXPECT_EQ(driverSource->W(), kWidth);
  EXPECT_EQ(driverSource->H(), kHeight);
  EXPECT_EQ(driverSource->frameBytes(), size_t{kWidth * kHeight * 3});
  auto prior = driver::openPriorHevc(movie("prior.mov", priorRecipe()), kFrames, kCrop);
  EXPECT_EQ(prior->name(), "hevc444/libavcodec " + builtAvcodecVersion() + " h264");
  EXPECT_EQ(prior->W(), kCrop);
  EXPECT_EQ(prior->H(), kCrop);
  EXPECT_EQ(prior->frameBytes(), size_t{kCrop * kCrop * 6});
  if (avcodec_find_encoder_by_name("libx265")) {
    auto hevc = driver::openPriorHevc(movie("prior_hevc.mov", priorRecipe("libx265")), kFrames, kCrop);
    EXPECT_EQ(hevc->name(), "hevc444/libavcodec " + builtAvcodecVersion() + " hevc");
  }
}

// Four frame-threading decoders plus five frames of references, and the largest packet once read.
TEST_F(MovieSourceDescription, ResidentBytesFollowTheDecoderEstimate) {
  const std::string driverPath = movie("driver.mp4", driverRecipe());
  auto driverSource = driver::openMp4(driverPath, kFrames, kWidth, kHeight);
  const size_t driverDecoder = size_t{kWidth * kHeight * 3 / 2} * (4 + 5);
  EXPECT_EQ(driverSource->residentBytes(), driverDecoder);
  playToEnd(*driverSource);
  EXPECT_EQ(driverSource->residentBytes(), driverDecoder + static_cast<size_t>(largestPacket(driverPath)));

  const std::string priorPath = movie("prior.mov", priorRecipe());
  auto prior = driver::openPriorHevc(priorPath, kFrames, kCrop);
  playToEnd(*prior);
  EXPECT_EQ(prior->residentBytes(),
            size_t{kCrop * kCrop * 3} * (4 + 5) + static_cast<size_t>(largestPacket(priorPath)));
}

TEST(MovieDecoderBuild, NamesTheHeadersVersionAndTheLoadedConfiguration) {
  EXPECT_EQ(movieDecoderBuild(), "libavcodec " + builtAvcodecVersion() + " / " + avcodec_configuration());
}

// Skips where this FFmpeg has no h264_cuvid or the machine can actually open it.
TEST_F(HardwareDecoder, ARefusalFallsBackToTheSoftwareDecoder) {
  if (!avcodec_find_decoder_by_name("h264_cuvid")) GTEST_SKIP() << "this FFmpeg has no h264_cuvid";
  const MovieRecipe recipe = driverRecipe();
  const std::string path = movie("driver.mp4", recipe);
  for (const char* setting : {static_cast<const char*>(nullptr), "1", "00", ""}) {
    SCOPED_TRACE(setting ? std::string("KO_DRIVER_HWDEC=") + setting : "KO_DRIVER_HWDEC unset");
    test::ScopedEnv hardwareAllowed("KO_DRIVER_HWDEC", setting);
    testing::internal::CaptureStderr();
    auto source = driver::openMp4(path, kFrames, kWidth, kHeight);
    const std::string log = testing::internal::GetCapturedStderr();
    if (endsWith(source->name(), " h264_cuvid")) GTEST_SKIP() << "h264_cuvid opens on this machine";
    EXPECT_EQ(countLines(log, refusedLine(path)), 1) << log;
    EXPECT_EQ(countLines(log, kNotAttempted), 0);
    EXPECT_EQ(source->name(), "mp4/libavcodec " + builtAvcodecVersion() + " h264");
    EXPECT_EQ(playToEnd(*source), driverFrames(recipe, kFrames));
  }
}

TEST_F(HardwareDecoder, SwitchedOffItIsNotAttemptedAtAnyOpen) {
  const std::string driverPath = movie("driver.mp4", driverRecipe());
  const std::string priorPath = movie("prior.mov", priorRecipe());
  testing::internal::CaptureStderr();
  auto driverSource = driver::openMp4(driverPath, kFrames, kWidth, kHeight);
  auto prior = driver::openPriorHevc(priorPath, kFrames, kCrop);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(countLines(log, kNotAttempted), 2) << log;
  EXPECT_EQ(countLines(log, refusedLine(driverPath)), 0) << log;
}

TEST_F(HardwareDecoder, ThePriorNeverTriesIt) {
  test::ScopedEnv hardwareAllowed("KO_DRIVER_HWDEC", nullptr);
  const std::string path = movie("prior.mov", priorRecipe());
  testing::internal::CaptureStderr();
  auto prior = driver::openPriorHevc(path, kFrames, kCrop);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log.find("[ko-driver]"), std::string::npos) << log;
  EXPECT_EQ(prior->name(), "hevc444/libavcodec " + builtAvcodecVersion() + " h264");
}

}  // namespace
}  // namespace ko
