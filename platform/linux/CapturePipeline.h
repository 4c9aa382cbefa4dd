#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/SampleTap.h"

typedef struct _GstElement GstElement;
typedef struct _GstObject GstObject;

namespace platform::linux_gst {

// What to capture and where it goes; fixed when capture starts.
struct PipelinePlan {
  std::string systemSourceName;  // the monitor of the recorded output
  bool withMicrophone = false;
  std::optional<std::string> microphoneSourceName;  // none: the server's default input
  int sampleRate = 48000;
  int channelCount = 2;
  std::vector<OutputTarget> systemTargets;
  std::vector<OutputTarget> microphoneTargets;
  std::optional<std::filesystem::path> outputFile;  // none: nothing is written
};

// The GStreamer pipeline of one capture:
//
//   pulsesrc(monitor) ! convert ! F32 caps [tap: audio] ! audiomixer
//   pulsesrc(input)   ! convert ! F32 caps [tap: mic]   ! audiomixer
//   audiomixer ! audioconvert ! caps ! avenc_aac ! aacparse ! queue ! qtmux ! filesink
//   videotestsrc(black) ! caps ! x264enc ! h264parse ! queue ! qtmux
//
// Built and torn down on the loop thread. Destruction removes the taps, stops the pipeline
// (joining its streaming threads) and drops it.
class CapturePipeline {
 public:
  // Throws PlatformError when an element is missing or cannot be linked.
  static std::unique_ptr<CapturePipeline> build(const PipelinePlan& plan);
  ~CapturePipeline();
  CapturePipeline(const CapturePipeline&) = delete;
  CapturePipeline& operator=(const CapturePipeline&) = delete;

  GstElement* element() const { return pipeline_; }
  // Whether `object` belongs to the encoding and writing half, whose failures are the
  // recording's rather than the stream's.
  static bool isRecordingElement(GstObject* object);

 private:
  CapturePipeline();
  void addAll(const PipelinePlan& plan);
  GstElement* addSource(const char* name, const std::optional<std::string>& device,
                        const PipelinePlan& plan, StreamOutputType type,
                        std::vector<OutputTarget> targets);
  void addRecording(GstElement* mixer, const std::filesystem::path& file);

  GstElement* pipeline_;
  std::vector<std::pair<GstElement*, unsigned long>> taps_;  // element whose src pad is tapped
};

}  // namespace platform::linux_gst
