// libswresample's converter between two sample layouts, owned like the other FFmpeg handles. The
// movie's audio track and the speech reader both convert through it.
#pragma once

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace ko::tools {

struct ResamplerFreer {
  void operator()(SwrContext* context) const { swr_free(&context); }
};
using ResamplerHandle = std::unique_ptr<SwrContext, ResamplerFreer>;

// One side of a conversion.
struct SampleLayout {
  AVChannelLayout channels{};  // borrowed: a custom order's map stays with its owner
  AVSampleFormat format = AV_SAMPLE_FMT_NONE;
  int rate = 0;
};

// An initialised converter, or null with FFmpeg's error number in `error`.
inline ResamplerHandle openResampler(SampleLayout from, SampleLayout to, int& error) {
  // A stream that does not say which channels it carries gets the usual layout for its count.
  for (SampleLayout* side : {&from, &to}) {
    if (side->channels.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&side->channels, side->channels.nb_channels);
    }
  }
  SwrContext* made = nullptr;
  error = swr_alloc_set_opts2(&made, &to.channels, to.format, to.rate, &from.channels, from.format, from.rate,
                              0, nullptr);
  ResamplerHandle resampler(made);
  if (error >= 0) error = swr_init(resampler.get());
  if (error < 0) resampler.reset();
  return resampler;
}

}  // namespace ko::tools
