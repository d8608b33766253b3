#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/media_source_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace zennic {
namespace {

// Only the demuxers of the formats this reader stands for, and only local files: a playlist or
// reference file renamed to one of these extensions must not reach other files or the network.
constexpr char kAllowedDemuxers[] = "mov,aac,asf";

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecContextFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ResamplerFreer {
  void operator()(SwrContext* context) const { swr_free(&context); }
};

// The speakers of a layout as a WAV channel mask, whose bits the first eighteen of FFmpeg's
// own match; 0 for a layout without named speakers or with others.
uint32_t WavChannelMask(const AVChannelLayout& layout) {
  constexpr uint64_t kWavSpeakers = (uint64_t{1} << 18) - 1;
  if (layout.order != AV_CHANNEL_ORDER_NATIVE || (layout.u.mask & ~kWavSpeakers) != 0) return 0;
  return static_cast<uint32_t>(layout.u.mask);
}

uint64_t ReadLe64(const char* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// The play length an ASF file's header states, in seconds; 0 when it states none. FFmpeg drops
// it once the file's size differs from the size the header states, which is what a cut-off
// file's does, and measures the file's own end instead.
double AsfStatedSeconds(const std::filesystem::path& path) {
  static constexpr std::array<unsigned char, 16> kFileProperties = {
      0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
      0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  // The header object (30 bytes) comes first, the file properties object among its first.
  char header[4096];
  std::ifstream file(path, std::ios::binary);
  file.read(header, sizeof header);
  const std::streamsize got = file.gcount();
  for (std::streamsize at = 30; at + 24 + 80 <= got;) {
    const char* object = header + at;
    const uint64_t size = ReadLe64(object + 16);
    if (std::memcmp(object, kFileProperties.data(), kFileProperties.size()) == 0) {
      // After the object's id and size: file id, file size, creation date, packet count, play
      // duration (100 ns), send duration, preroll (ms), flags (bit 0: a live broadcast).
      const char* body = object + 24;
      if ((body[64] & 1) != 0) return 0;
      const double seconds = static_cast<double>(ReadLe64(body + 40)) / 1e7 -
                             static_cast<double>(ReadLe64(body + 56)) / 1e3;
      return seconds > 0 ? seconds : 0;
    }
    if (size < 24 || size > static_cast<uint64_t>(got - at)) return 0;
    at += static_cast<std::streamsize>(size);
  }
  return 0;
}

AVChannelLayout UsableLayout(const AVChannelLayout& layout) {
  AVChannelLayout result{};
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&result, layout.nb_channels);
  } else if (av_channel_layout_copy(&result, &layout) < 0) {
    av_channel_layout_default(&result, layout.nb_channels);
  }
  return result;
}

}  // namespace

bool StartMediaFramework() {
  // The libraries report damaged input on stderr; the callers turn failures into messages.
  av_log_set_level(AV_LOG_QUIET);
  return avcodec_find_decoder(AV_CODEC_ID_AAC) != nullptr &&
         avcodec_find_decoder(AV_CODEC_ID_WMAV2) != nullptr;
}

// The libraries need no per-thread set-up.
MediaThreadScope::MediaThreadScope() : joined_(true) {}
MediaThreadScope::~MediaThreadScope() = default;

struct MediaSourceReader::Impl {
  std::filesystem::path path;
  std::unique_ptr<AVFormatContext, FormatContextCloser> format;
  int stream_index = -1;
  std::unique_ptr<AVCodecContext, CodecContextFreer> codec;
  std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
  std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
  std::unique_ptr<SwrContext, ResamplerFreer> resampler;

  AVSampleFormat output_format = AV_SAMPLE_FMT_NONE;
  AVChannelLayout output_layout{};
  uint32_t output_mask = 0;
  int output_rate = 0;
  // What the resampler was set up for; a frame that differs sets it up again.
  AVSampleFormat input_format = AV_SAMPLE_FMT_NONE;
  AVChannelLayout input_layout{};
  int input_rate = 0;
  // The stream's exact length where the container states one (an edit list): the decoder
  // does not drop the encoder's padding at the end by itself. -1 when unknown.
  int64_t remaining_frames = -1;
  // The length the file states, for telling a file cut off; -1 when it states none.
  int64_t stated_frames = -1;
  bool flushing = false;
  bool finished = false;

  ~Impl() {
    av_channel_layout_uninit(&output_layout);
    av_channel_layout_uninit(&input_layout);
  }

  const AVStream* Stream() const {
    return stream_index < 0 ? nullptr : format->streams[stream_index];
  }

  int BytesPerSample() const { return av_get_bytes_per_sample(output_format); }

  bool PrepareResampler(const AVFrame& source) {
    AVChannelLayout layout = UsableLayout(source.ch_layout);
    const auto format = static_cast<AVSampleFormat>(source.format);
    if (resampler && format == input_format && source.sample_rate == input_rate &&
        av_channel_layout_compare(&layout, &input_layout) == 0) {
      av_channel_layout_uninit(&layout);
      return true;
    }
    av_channel_layout_uninit(&input_layout);
    input_layout = layout;
    input_format = format;
    input_rate = source.sample_rate;
    SwrContext* context = nullptr;
    if (swr_alloc_set_opts2(&context, &output_layout, output_format, output_rate, &input_layout,
                            input_format, input_rate, 0, nullptr) < 0) {
      return false;
    }
    resampler.reset(context);
    return swr_init(context) >= 0;
  }

  // Converts `source` (or, when null, what the resampler still holds) into `data`.
  bool Convert(const AVFrame* source, std::vector<uint8_t>* data) {
    if (source != nullptr && !PrepareResampler(*source)) return false;
    if (!resampler) {
      data->clear();
      return true;
    }
    const int input_samples = source != nullptr ? source->nb_samples : 0;
    const int capacity = swr_get_out_samples(resampler.get(), input_samples);
    if (capacity < 0) return false;
    const size_t frame_bytes = static_cast<size_t>(output_layout.nb_channels) * BytesPerSample();
    data->resize(static_cast<size_t>(capacity) * frame_bytes);
    uint8_t* output = data->data();
    const int converted = swr_convert(
        resampler.get(), &output, capacity,
        source != nullptr ? const_cast<const uint8_t**>(source->extended_data) : nullptr,
        input_samples);
    if (converted < 0) return false;
    int64_t frames = converted;
    if (remaining_frames >= 0) {
      frames = std::min(frames, remaining_frames);
      remaining_frames -= frames;
    }
    data->resize(static_cast<size_t>(frames) * frame_bytes);
    return true;
  }
};

MediaSourceReader::MediaSourceReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaSourceReader::~MediaSourceReader() = default;

std::unique_ptr<MediaSourceReader> MediaSourceReader::Open(const std::filesystem::path& path) {
  auto impl = std::make_unique<Impl>();
  if (!impl->frame || !impl->packet) return nullptr;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", kAllowedDemuxers, 0);
  AVFormatContext* format = nullptr;
  // The "file:" prefix keeps a name containing ":" from being taken for another protocol.
  const std::string url = "file:" + path.string();
  const int opened = avformat_open_input(&format, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) return nullptr;
  impl->format.reset(format);
  impl->path = path;
  if (avformat_find_stream_info(format, nullptr) < 0) return nullptr;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      impl->stream_index = static_cast<int>(i);
      break;
    }
  }
  return std::unique_ptr<MediaSourceReader>(new MediaSourceReader(std::move(impl)));
}

bool MediaSourceReader::GetNativeType(MediaAudioType* type) {
  const AVStream* stream = impl_->Stream();
  if (stream == nullptr || type == nullptr) return false;
  type->samples_per_second = static_cast<uint32_t>(std::max(stream->codecpar->sample_rate, 0));
  type->channels = static_cast<uint32_t>(std::max(stream->codecpar->ch_layout.nb_channels, 0));
  type->bits_per_sample =
      static_cast<uint32_t>(std::max(stream->codecpar->bits_per_coded_sample, 0));
  type->channel_mask = WavChannelMask(stream->codecpar->ch_layout);
  return true;
}

bool MediaSourceReader::SetOutputType(MediaSampleFormat format) {
  Impl& impl = *impl_;
  const AVStream* stream = impl.Stream();
  if (stream == nullptr) return false;
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (decoder == nullptr) return false;
  std::unique_ptr<AVCodecContext, CodecContextFreer> codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0 ||
      avcodec_open2(codec.get(), decoder, nullptr) < 0) {
    return false;
  }
  if (codec->sample_rate < 1 || codec->ch_layout.nb_channels < 1) return false;
  av_channel_layout_uninit(&impl.output_layout);
  impl.output_layout = UsableLayout(codec->ch_layout);
  impl.output_mask = WavChannelMask(codec->ch_layout);
  impl.output_rate = codec->sample_rate;
  impl.output_format = format == MediaSampleFormat::Float32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
  impl.codec = std::move(codec);
  impl.resampler.reset();
  // A length estimated from the bit rate is no length at all.
  impl.remaining_frames = -1;
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0 &&
      impl.format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
    impl.remaining_frames =
        av_rescale_q(stream->duration, stream->time_base, AVRational{1, impl.output_rate});
  }
  // Only a length the container states counts, not one measured from the packets there are.
  impl.stated_frames = -1;
  if (std::strcmp(impl.format->iformat->name, "asf") == 0) {
    const double seconds = AsfStatedSeconds(impl.path);
    if (seconds > 0) impl.stated_frames = static_cast<int64_t>(seconds * impl.output_rate);
  } else if (impl.format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM) {
    impl.stated_frames = impl.remaining_frames;
  }
  return true;
}

bool MediaSourceReader::GetCurrentType(MediaAudioType* type) {
  const Impl& impl = *impl_;
  if (!impl.codec || type == nullptr) return false;
  type->samples_per_second = static_cast<uint32_t>(impl.output_rate);
  type->channels = static_cast<uint32_t>(impl.output_layout.nb_channels);
  type->bits_per_sample = static_cast<uint32_t>(impl.BytesPerSample() * 8);
  type->channel_mask = impl.output_mask;
  return true;
}

bool MediaSourceReader::GetDuration(uint64_t* duration) {
  const AVFormatContext* format = impl_->format.get();
  if (duration == nullptr || format->duration == AV_NOPTS_VALUE || format->duration < 0) {
    return false;
  }
  // Microseconds to 100-nanosecond units.
  *duration = static_cast<uint64_t>(format->duration) * 10;
  return true;
}

bool MediaSourceReader::GetStatedLength(uint64_t* frames) {
  if (frames == nullptr || !impl_->codec || impl_->stated_frames < 0) return false;
  *frames = static_cast<uint64_t>(impl_->stated_frames);
  return true;
}

MediaReadStatus MediaSourceReader::ReadSample(std::vector<uint8_t>* data) {
  Impl& impl = *impl_;
  if (!impl.codec || data == nullptr) return MediaReadStatus::Failed;
  for (;;) {
    if (impl.finished) return MediaReadStatus::EndOfStream;
    const int received = avcodec_receive_frame(impl.codec.get(), impl.frame.get());
    if (received == 0) {
      const bool converted = impl.Convert(impl.frame.get(), data);
      av_frame_unref(impl.frame.get());
      if (!converted) return MediaReadStatus::Failed;
      if (!data->empty()) return MediaReadStatus::Sample;
      continue;
    }
    if (received == AVERROR_EOF) {
      impl.finished = true;
      // A rate change leaves samples inside the resampler.
      if (!impl.Convert(nullptr, data)) return MediaReadStatus::Failed;
      if (!data->empty()) return MediaReadStatus::Sample;
      continue;
    }
    // A damaged packet is skipped, as players do; anything else ends the decode.
    if (received == AVERROR_INVALIDDATA) continue;
    if (received != AVERROR(EAGAIN) || impl.flushing) return MediaReadStatus::Failed;

    const int read = av_read_frame(impl.format.get(), impl.packet.get());
    if (read < 0) {
      // The end of the file, or a cut-off or damaged one: decode what was read. A file that
      // cannot be read further ends nothing; it fails.
      if (read != AVERROR_EOF && read != AVERROR_INVALIDDATA) return MediaReadStatus::Failed;
      impl.flushing = true;
      if (avcodec_send_packet(impl.codec.get(), nullptr) < 0) return MediaReadStatus::Failed;
      continue;
    }
    int sent = 0;
    if (impl.packet->stream_index == impl.stream_index) {
      sent = avcodec_send_packet(impl.codec.get(), impl.packet.get());
    }
    av_packet_unref(impl.packet.get());
    if (sent < 0 && sent != AVERROR_INVALIDDATA) return MediaReadStatus::Failed;
  }
}

}  // namespace zennic
