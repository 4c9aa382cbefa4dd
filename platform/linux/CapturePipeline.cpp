// The GStreamer elements of one capture.
//
// create:  build() assembles sources, mixer, encoders and muxer on the loop thread; nothing runs.
// start:   the stream sets the pipeline PLAYING from the loop thread; GStreamer's streaming
//          threads then read the server, mix, encode and write.
// samples: the taps on the sources' pads run on the sources' streaming threads; the video and
//          end padding probes on the mixer's; the count of the file's writes on the muxer's.
// stop:    EOS, sent into every source at once from GStreamer's thread pool, drains every
//          branch into qtmux, which closes the movie.
// finish:  destruction, on GStreamer's thread pool, removes the probes (each owns its state,
//          freed once no call of it runs), sets NULL (joining the streaming threads) and drops
//          the pipeline.
#include "platform/linux/CapturePipeline.h"

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

#include <cstring>
#include <initializer_list>
#include <iterator>

#include "platform/linux/AudioEndPadding.h"
#include "platform/linux/Errors.h"
#include "platform/linux/PlaceholderVideo.h"
#include "platform/linux/PulseRecordSource.h"

namespace platform::linux_gst {

namespace {

constexpr const char* kRecordingPrefix = "recording-";
constexpr const char* kSystemSource = "system-source";
constexpr const char* kMicrophoneSource = "microphone-source";
// What system audio records when the server comes back after a loss: the monitor of whatever
// output is the default then.
constexpr const char* kDefaultMonitor = "@DEFAULT_MONITOR@";
// And the microphone that follows the default input: named, since a stream without a source
// takes the one the server kept for the application, which can be an output's monitor.
constexpr const char* kDefaultInput = "@DEFAULT_SOURCE@";

// docs/linux-recording.md ("Why the pipeline's numbers") has the measurements behind these.

// The server holds what a source has not read yet, up to this much, and hands it over late but
// in order when the tool was starved or stopped; the sources stamp it where it belongs
// (RecordTimeline.h). The mixer waits that long, and longer for the server's blocks and what is
// on the socket, rather than mix silence and drop the late data.
constexpr guint64 kServerHoldsNs = 10 * GST_SECOND;
constexpr guint64 kMixerLatencyNs = kServerHoldsNs + 2 * GST_SECOND;
// 50-ms reads: a quarter less CPU than 20-ms ones; 100-ms ones make "ready" later.
constexpr guint64 kSourceReadNs = 50 * GST_MSECOND;
// The first reads are short, so that the first block, and "ready", come sooner.
constexpr guint64 kFirstSourceReadNs = 10 * GST_MSECOND;
constexpr int kFirstSourceReads = 10;
// 100-ms mix buffers wake the mixer and the encoder a tenth as often as the default; the first
// few are shorter, as "ready" waits for them.
constexpr guint64 kFirstMixBuffersNs = 50 * GST_MSECOND;
constexpr int kFirstMixBufferCount = 3;
constexpr guint64 kMixBufferNs = 100 * GST_MSECOND;
// A file cut off by a crash stays readable up to its last complete fragment.
constexpr guint kFragmentDurationMs = 200;
// Held by the muxer's pads beyond its upstream's latency: a write that stalls for seconds (a
// slow disk, a full pipe) loses nothing, with no queue's thread.
constexpr guint64 kMuxerSlackNs = 2 * GST_SECOND;

// AAC encoders in order of preference; the first one installed is used. voaacenc takes 16-bit
// stereo only: without its caps it negotiates mono, where audioconvert saturates a loud mix.
struct AudioEncoder {
  const char* factory;
  const char* inputFormat;  // 16-bit, or null: whatever the encoder negotiates
  int droppedPartialFrame;  // samples per frame when it drops a partial last frame, else 0
};
constexpr AudioEncoder kAudioEncoders[] = {{"voaacenc", "S16LE", 1024}, {"avenc_aac", nullptr, 0}};
constexpr gint kAudioBitrate = 128000;

// Frames pace the file (the muxer writes a sample once the next has come) and come from the
// mixer's thread, so they must not lag the audio by more than the muxer's audio pad holds.
constexpr int kVideoFramesPerSecond = 10;

GstElement* make(GstElement* pipeline, const char* factory, const std::string& name) {
  GstElement* element = gst_element_factory_make(factory, name.c_str());
  if (!element) {
    throw serviceError(ServiceErrorCode::elementMissing,
                       std::string("The GStreamer element ") + factory + " is not installed.");
  }
  gst_bin_add(GST_BIN(pipeline), element);
  return element;
}

void link(GstElement* from, GstElement* to) {
  if (!gst_element_link(from, to)) {
    throw serviceError(
        ServiceErrorCode::elementMissing,
        std::string("Cannot link ") + GST_ELEMENT_NAME(from) + " to " + GST_ELEMENT_NAME(to) + ".");
  }
}

// Links each element to the next, in order.
void linkChain(std::initializer_list<GstElement*> chain) {
  for (auto from = chain.begin(), to = from + 1; to != chain.end(); ++from, ++to) link(*from, *to);
}

void setCaps(GstElement* capsfilter, GstCaps* caps) {
  g_object_set(capsfilter, "caps", caps, nullptr);
  gst_caps_unref(caps);
}

void sendEndOfStream(GstElement* source, gpointer) {
  gst_element_send_event(source, gst_event_new_eos());
}

void endSourceAsync(const GValue* source, gpointer) {
  gst_element_call_async(GST_ELEMENT(g_value_get_object(source)), sendEndOfStream, nullptr,
                         nullptr);
}

// Runs on the mixer's thread, between two of its buffers, where the mixer reads the setting.
GstPadProbeReturn growMixBuffers(GstPad* pad, GstPadProbeInfo*, gpointer counter) {
  if (++*static_cast<int*>(counter) < kFirstMixBufferCount) return GST_PAD_PROBE_OK;
  g_object_set(GST_PAD_PARENT(pad), "output-buffer-duration", kMixBufferNs, nullptr);
  return GST_PAD_PROBE_REMOVE;
}

const AudioEncoder& installedAudioEncoder() {
  for (const AudioEncoder& encoder : kAudioEncoders) {
    if (GstElementFactory* factory = gst_element_factory_find(encoder.factory)) {
      gst_object_unref(factory);
      return encoder;
    }
  }
  return kAudioEncoders[std::size(kAudioEncoders) - 1];  // fails in make() with its name
}

}  // namespace

CapturePipeline::CapturePipeline() : pipeline_(gst_pipeline_new("capture")) {
  gst_object_ref_sink(pipeline_);
  // A source's own clock stops while its output is suspended, and with it the whole pipeline
  // and the recording; the monotonic system clock keeps time, and the sources follow it.
  GstClock* clock = gst_system_clock_obtain();
  gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
  gst_object_unref(clock);
}

std::unique_ptr<CapturePipeline> CapturePipeline::build(const PipelinePlan& plan) {
  std::unique_ptr<CapturePipeline> built(new CapturePipeline);
  built->addAll(plan);
  return built;
}

void CapturePipeline::addAll(const PipelinePlan& plan) {
  GstElement* mixer = make(pipeline_, "audiomixer", "mixer");
  g_object_set(mixer, "latency", kMixerLatencyNs, nullptr);
  g_object_set(mixer, "output-buffer-duration", kFirstMixBuffersNs, nullptr);
  GstPad* mixed = gst_element_get_static_pad(mixer, "src");
  gst_pad_add_probe(mixed, GST_PAD_PROBE_TYPE_BUFFER, growMixBuffers, new int(0),
                    [](gpointer counter) { delete static_cast<int*>(counter); });
  gst_object_unref(mixed);
  // Sources slaved to the system clock stamp their first buffer a little after zero; starting
  // the mix there instead of at zero keeps silence out of the head of the file.
  gst_util_set_object_arg(G_OBJECT(mixer), "start-time-selection", "first");
  // The server converts to the mix's format.
  const RecordSourceSettings common{std::nullopt,       std::nullopt,      false,
                                    plan.sampleRate,    plan.channelCount, kSourceReadNs,
                                    kFirstSourceReadNs, kFirstSourceReads, kServerHoldsNs};
  RecordSourceSettings system = common;
  system.device = plan.systemSourceName;
  system.deviceAfterLoss = kDefaultMonitor;
  link(addSource(kSystemSource, system, StreamOutputType::audio, plan.systemTargets), mixer);
  if (plan.withMicrophone) {
    RecordSourceSettings microphone = common;
    microphone.device = plan.microphoneSourceName;
    microphone.keepOnDevice = plan.microphoneKeptOnSource && plan.microphoneSourceName;
    microphone.deviceAfterLoss = microphone.keepOnDevice
                                     ? plan.microphoneSourceName
                                     : std::optional<std::string>(kDefaultInput);
    link(addSource(kMicrophoneSource, microphone, StreamOutputType::microphone,
                   plan.microphoneTargets),
         mixer);
  }
  addRecording(mixer, plan);
}

CapturePipeline::~CapturePipeline() {
  for (auto& [pad, probe] : probes_) {
    gst_pad_remove_probe(pad, probe);
    gst_object_unref(pad);
  }
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  gst_object_unref(pipeline_);
}

bool CapturePipeline::isRecordingElement(GstObject* object) {
  const char* name = GST_OBJECT_NAME(object);
  return name && std::strncmp(name, kRecordingPrefix, std::strlen(kRecordingPrefix)) == 0;
}

std::optional<StreamOutputType> CapturePipeline::sourceType(GstObject* object) {
  const char* name = GST_OBJECT_NAME(object);
  if (!name) return std::nullopt;
  if (std::strcmp(name, kSystemSource) == 0) return StreamOutputType::audio;
  if (std::strcmp(name, kMicrophoneSource) == 0) return StreamOutputType::microphone;
  return std::nullopt;
}

// The sink counts a write as rendered once it has returned.
CapturePipeline::Writes CapturePipeline::writes() const {
  Writes writes;
  writes.begun = writesBegun_.load();
  GstStructure* stats = gst_base_sink_get_stats(GST_BASE_SINK(fileSink_));
  guint64 rendered = 0;
  gst_structure_get_uint64(stats, "rendered", &rendered);
  gst_structure_free(stats);
  writes.done = rendered;
  return writes;
}

void CapturePipeline::endSources() {
  GstIterator* sources = gst_bin_iterate_sources(GST_BIN(pipeline_));
  gst_iterator_foreach(sources, endSourceAsync, nullptr);
  gst_iterator_free(sources);
}

RecordStreams CapturePipeline::recordStreams() const {
  auto indexOf = [this](const char* name) -> std::optional<std::uint32_t> {
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline_), name);
    if (!source) return std::nullopt;
    std::optional<std::uint32_t> index = recordStreamIndex(source);
    gst_object_unref(source);
    return index;
  };
  return {indexOf(kSystemSource), indexOf(kMicrophoneSource)};
}

void CapturePipeline::silenceMicrophone(bool silenced) const {
  GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline_), kMicrophoneSource);
  if (!source) return;
  silenceRecordSource(source, silenced);
  gst_object_unref(source);
}

GstElement* CapturePipeline::addSource(const char* name, RecordSourceSettings settings,
                                       StreamOutputType type, std::vector<OutputTarget> targets) {
  // No queue before the mixer: its pads already hold up to its latency, and a queue only adds a
  // thread and a hand-off per read (measured: a fifth fewer context switches without).
  const SampleLayout layout{static_cast<double>(settings.sampleRate),
                            static_cast<std::uint32_t>(settings.channelCount), true};
  GstElement* source = makePulseRecordSource(name, std::move(settings));
  gst_bin_add(GST_BIN(pipeline_), source);
  if (!targets.empty()) {
    GstPad* pad = gst_element_get_static_pad(source, "src");
    probes_.emplace_back(pad, installSampleTap(pad, type, layout, std::move(targets)));
  }
  return source;
}

void CapturePipeline::addRecording(GstElement* mixer, const PipelinePlan& plan) {
  const std::string p = kRecordingPrefix;
  GstElement* mux = make(pipeline_, "qtmux", p + "mux");
  g_object_set(mux, "fragment-duration", kFragmentDurationMs, nullptr);
  g_object_set(mux, "latency", kMuxerSlackNs, nullptr);
  gst_util_set_object_arg(G_OBJECT(mux), "fragment-mode", "dash-or-mss");
  output_ = std::make_unique<OutputFile>(plan.outputFile);
  GstElement* sink = make(pipeline_, "fdsink", p + "file");
  g_object_set(sink, "fd", output_->descriptor(), nullptr);
  link(mux, sink);
  fileSink_ = sink;
  GstPad* fileInput = gst_element_get_static_pad(sink, "sink");
  probes_.emplace_back(
      fileInput,
      gst_pad_add_probe(
          fileInput,
          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
          [](GstPad*, GstPadProbeInfo*, gpointer begun) {
            static_cast<std::atomic<std::uint64_t>*>(begun)->fetch_add(1);
            return GST_PAD_PROBE_OK;
          },
          &writesBegun_, nullptr));

  GstElement* audioConvert = make(pipeline_, "audioconvert", p + "audio-convert");
  GstElement* encoderCaps = make(pipeline_, "capsfilter", p + "audio-encoder-caps");
  const AudioEncoder& chosen = installedAudioEncoder();
  if (chosen.inputFormat) {
    setCaps(encoderCaps,
            gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, chosen.inputFormat,
                                "channels", G_TYPE_INT, 2, nullptr));
  }
  GstElement* encoder = make(pipeline_, chosen.factory, p + "audio-encoder");
  g_object_set(encoder, "bitrate", kAudioBitrate, nullptr);
  // The encoders' raw AAC frames, with their codec data, are what the muxer takes: no parser.
  linkChain({mixer, audioConvert, encoderCaps, encoder, mux});
  if (chosen.droppedPartialFrame) {
    GstPad* encoderInput = gst_element_get_static_pad(encoderCaps, "src");
    probes_.emplace_back(encoderInput, padAudioEnd(encoderInput, plan.sampleRate, plan.channelCount,
                                                   chosen.droppedPartialFrame));
  }

  GstElement* video = make(pipeline_, "appsrc", p + "video-source");
  GstPad* mixed = gst_element_get_static_pad(mixer, "src");
  probes_.emplace_back(mixed, feedPlaceholderVideo(video, mixed, kVideoFramesPerSecond));
  // Linked by template, as the muxer would otherwise offer the frames an audio pad.
  if (!gst_element_link_pads(video, "src", mux, "video_%u")) {
    throw serviceError(ServiceErrorCode::elementMissing, "Cannot link the video to the muxer.");
  }
}

}  // namespace platform::linux_gst
