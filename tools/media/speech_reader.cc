#include "tools/media/speech_reader.h"

#include <stdexcept>

#include "driver/ff_handles.h"
#include "tools/media/media_failure.h"
#include "tools/media/resampler.h"

namespace ko::tools {
namespace {

using driver::CodecHandle;
using driver::FormatHandle;
using driver::FrameHandle;
using driver::PacketHandle;

std::runtime_error failure(const std::string& path, const std::string& what, int error) {
  return mediaFailure("reading", path, what, error);
}

FormatHandle openContainer(const std::string& path) {
  AVFormatContext* opened = nullptr;
  // On failure avformat_open_input frees what it allocated and leaves `opened` null.
  const int error = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
  if (error < 0) throw failure(path, "cannot open the file", error);
  FormatHandle container(opened);
  const int found = avformat_find_stream_info(container.get(), nullptr);
  if (found < 0) throw failure(path, "cannot find its streams", found);
  return container;
}

int firstAudioStream(const AVFormatContext& container, const std::string& path) {
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    if (container.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return static_cast<int>(i);
  }
  throw std::runtime_error("reading " + path + ": no audio stream");
}

CodecHandle openDecoder(const AVStream& stream, const std::string& path) {
  const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
  if (!codec) {
    throw failure(path, std::string("no decoder for ") + avcodec_get_name(stream.codecpar->codec_id),
                  AVERROR_DECODER_NOT_FOUND);
  }
  CodecHandle decoder(avcodec_alloc_context3(codec));
  if (!decoder) throw failure(path, "cannot allocate the decoder", AVERROR(ENOMEM));
  const int described = avcodec_parameters_to_context(decoder.get(), stream.codecpar);
  if (described < 0) throw failure(path, "cannot describe the audio stream", described);
  decoder->pkt_timebase = stream.time_base;
  const int opened = avcodec_open2(decoder.get(), codec, nullptr);
  if (opened < 0) throw failure(path, std::string("cannot open ") + codec->name, opened);
  return decoder;
}

bool sameLayout(const AVFrame& frame, const SampleLayout& layout) {
  return frame.format == layout.format && frame.sample_rate == layout.rate &&
         av_channel_layout_compare(&frame.ch_layout, &layout.channels) == 0;
}

// The decoded frames, whatever their layout, gathered as kSpeechRate mono. A stream may change its
// rate or channels part way; the converter is then drained and rebuilt for the new layout.
class SpeechSink {
 public:
  explicit SpeechSink(const std::string& path) : path_(path) {
    av_channel_layout_default(&mono_.channels, 1);
  }
  ~SpeechSink() { av_channel_layout_uninit(&from_.channels); }
  SpeechSink(const SpeechSink&) = delete;
  SpeechSink& operator=(const SpeechSink&) = delete;

  void add(const AVFrame& frame) {
    if (!converter_ || !sameLayout(frame, from_)) start(frame);
    convert(const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
  }

  // Whatever the converter still holds for its filter's reach.
  std::vector<int16_t> finish() {
    if (converter_) convert(nullptr, 0);
    return std::move(samples_);
  }

 private:
  void start(const AVFrame& frame) {
    if (converter_) convert(nullptr, 0);
    // Kept past the frame, so a custom channel map is copied rather than borrowed.
    av_channel_layout_uninit(&from_.channels);
    int error = av_channel_layout_copy(&from_.channels, &frame.ch_layout);
    if (error < 0) throw failure(path_, "cannot read its channel layout", error);
    from_.format = static_cast<AVSampleFormat>(frame.format);
    from_.rate = frame.sample_rate;
    converter_ = openResampler(from_, mono_, error);
    if (!converter_) throw failure(path_, "cannot convert its audio to 16 kHz mono", error);
  }

  void convert(const uint8_t** input, int count) {
    const int room = swr_get_out_samples(converter_.get(), count);
    if (room < 0) throw failure(path_, "cannot convert its audio", room);
    const size_t start = samples_.size();
    samples_.resize(start + static_cast<size_t>(room));
    uint8_t* output[1] = {reinterpret_cast<uint8_t*>(samples_.data() + start)};
    const int converted = swr_convert(converter_.get(), output, room, input, count);
    if (converted < 0) throw failure(path_, "cannot convert its audio", converted);
    samples_.resize(start + static_cast<size_t>(converted));
  }

  std::string path_;
  SampleLayout mono_{{}, AV_SAMPLE_FMT_S16, kSpeechRate};
  SampleLayout from_;
  ResamplerHandle converter_;
  std::vector<int16_t> samples_;
};

// Sends one packet (null: the end) and takes every frame it completes.
void decode(AVCodecContext& decoder, const AVPacket* packet, AVFrame& frame, SpeechSink& sink,
            const std::string& path) {
  const int sent = avcodec_send_packet(&decoder, packet);
  if (sent < 0) throw failure(path, "the decoder refused a packet", sent);
  for (;;) {
    const int received = avcodec_receive_frame(&decoder, &frame);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
    if (received < 0) throw failure(path, "cannot decode its audio", received);
    sink.add(frame);
    av_frame_unref(&frame);
  }
}

// A codec that codes in blocks (AAC, Opus...) pads the last one; the container's own duration says
// where the speech ends. Estimates (a bit rate times a file size) are not trusted to cut anything.
void trimToDuration(std::vector<int16_t>& speech, const AVFormatContext& container, const AVStream& stream) {
  if (stream.duration == AV_NOPTS_VALUE ||
      container.duration_estimation_method != AVFMT_DURATION_FROM_STREAM) {
    return;
  }
  const int64_t length = av_rescale_q(stream.duration, stream.time_base, AVRational{1, kSpeechRate});
  if (length > 0 && static_cast<size_t>(length) < speech.size()) speech.resize(static_cast<size_t>(length));
}

}  // namespace

std::vector<int16_t> readSpeech(const std::string& path) {
  const FormatHandle container = openContainer(path);
  const int stream = firstAudioStream(*container, path);
  const CodecHandle decoder = openDecoder(*container->streams[stream], path);
  const PacketHandle packet(av_packet_alloc());
  const FrameHandle frame(av_frame_alloc());
  if (!packet || !frame) throw std::runtime_error("reading " + path + ": out of memory");
  SpeechSink sink(path);
  for (;;) {
    const int read = av_read_frame(container.get(), packet.get());
    if (read == AVERROR_EOF) break;
    if (read < 0) throw failure(path, "cannot read a packet", read);
    if (packet->stream_index == stream) decode(*decoder, packet.get(), *frame, sink, path);
    av_packet_unref(packet.get());
  }
  decode(*decoder, nullptr, *frame, sink, path);
  std::vector<int16_t> speech = sink.finish();
  trimToDuration(speech, *container, *container->streams[stream]);
  return speech;
}

}  // namespace ko::tools
