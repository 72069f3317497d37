// A 1920x1080 H.264 driver of 250 frames read through the cursor (look-ahead 2, history 11) with a
// consumer that does nothing else, against FFmpeg's own decode (same decoder threads) plus
// libswscale's conversion to RGB24 of the same file. Items per second are frames per second.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "bench/support/ratio_report.h"
#include "driver/driver.h"
#include "tests/support/movie_writer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 250;

struct Movie {
  ko::test::TempDir dir;
  std::string path = dir / "driver.mp4";
  Movie() {
    ko::test::MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    recipe.frames = kFrames;
    recipe.quantizer = 26;
    ko::test::writeMovie(path, recipe);
  }
};

const Movie& movie() {
  static const Movie m;
  return m;
}

void BM_CursorPull(benchmark::State& state) {
  auto cursor = ko::DriverCursor::over(ko::driver::openMp4(movie().path, kFrames, kWidth, kHeight), 2, 11);
  int32_t index = 0;
  for (auto _ : state) {
    for (int i = 0; i < kFrames; ++i) benchmark::DoNotOptimize(cursor->pull(&index));
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["resident_MiB"] = static_cast<double>(cursor->residentBytes()) / (1 << 20);
}

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwsFreer {
  void operator()(SwsContext* c) const { sws_freeContext(c); }
};

// What a user would write: demux, decode with the same threading, convert every frame with swscale.
void BM_FfmpegDecodeAndSwscale(benchmark::State& state) {
  AVFormatContext* opened = nullptr;
  if (avformat_open_input(&opened, movie().path.c_str(), nullptr, nullptr) < 0)
    throw std::runtime_error("open");
  const std::unique_ptr<AVFormatContext, FormatCloser> format(opened);
  avformat_find_stream_info(format.get(), nullptr);
  const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodecParameters* parameters = format->streams[stream]->codecpar;
  const std::unique_ptr<AVCodecContext, CodecFreer> decoder(
      avcodec_alloc_context3(avcodec_find_decoder(parameters->codec_id)));
  avcodec_parameters_to_context(decoder.get(), parameters);
  decoder->thread_count = 4;
  decoder->thread_type = FF_THREAD_FRAME;
  if (avcodec_open2(decoder.get(), nullptr, nullptr) < 0) throw std::runtime_error("decoder");
  const std::unique_ptr<SwsContext, SwsFreer> convert(sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                                                     kWidth, kHeight, AV_PIX_FMT_RGB24,
                                                                     SWS_POINT, nullptr, nullptr, nullptr));
  const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
  const std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  uint8_t* const out[1] = {rgb.data()};
  const int outStride[1] = {kWidth * 3};
  int64_t frames = 0;
  const auto drain = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      sws_scale(convert.get(), frame->data, frame->linesize, 0, kHeight, out, outStride);
      av_frame_unref(frame.get());
      ++frames;
    }
  };
  for (auto _ : state) {
    av_seek_frame(format.get(), stream, 0, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(decoder.get());
    while (av_read_frame(format.get(), packet.get()) == 0) {
      if (packet->stream_index == stream) avcodec_send_packet(decoder.get(), packet.get());
      av_packet_unref(packet.get());
      drain();
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
  }
  state.SetItemsProcessed(frames);
}

BENCHMARK(BM_CursorPull)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegDecodeAndSwscale)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  movie();
  std::printf("bound: (2 + 11 + 1) frames of %d bytes = %.1f MiB plus the decoder\n", kWidth * kHeight * 3,
              14.0 * kWidth * kHeight * 3 / (1 << 20));
  return ko::bench::runWithRatios(argc, argv, {{"BM_CursorPull", "BM_FfmpegDecodeAndSwscale"}});
}
