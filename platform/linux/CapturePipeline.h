#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/DeviceFollower.h"
#include "platform/linux/OutputFile.h"
#include "platform/linux/PulseRecordSource.h"
#include "platform/linux/SampleTap.h"

typedef struct _GstElement GstElement;
typedef struct _GstObject GstObject;
typedef struct _GstPad GstPad;

namespace platform::linux_gst {

// What to capture and where it goes; fixed when capture starts.
struct PipelinePlan {
  std::string systemSourceName;  // the monitor of the recorded output
  bool withMicrophone = false;
  std::optional<std::string> microphoneSourceName;  // none: the server's default input
  // The microphone was named: it stays on that input, and records silence while it is gone.
  // Otherwise it follows the server's default input.
  bool microphoneKeptOnSource = false;
  int sampleRate = 48000;
  int channelCount = 2;
  std::vector<OutputTarget> systemTargets;
  std::vector<OutputTarget> microphoneTargets;
  std::filesystem::path outputFile;
};

// The GStreamer pipeline of one capture:
//
//   PulseRecordSource(monitor, F32) [tap: audio] ! audiomixer
//   PulseRecordSource(input, F32)   [tap: mic]   ! audiomixer
//   audiomixer ! audioconvert ! S16 caps ! voaacenc ! qtmux ! fdsink(OutputFile)
//   appsrc(PlaceholderVideo, fed from the mixer's output) ! qtmux
//
// Built on the loop thread, which opens the output file; destroyed on GStreamer's thread pool.
// Destruction removes the probes, stops the pipeline (joining its streaming threads), drops it,
// then closes the file.
class CapturePipeline {
 public:
  // Throws PlatformError when an element is missing or cannot be linked, or the output file
  // cannot be opened or is held by another recorder.
  static std::unique_ptr<CapturePipeline> build(const PipelinePlan& plan);
  ~CapturePipeline();
  CapturePipeline(const CapturePipeline&) = delete;
  CapturePipeline& operator=(const CapturePipeline&) = delete;

  GstElement* element() const { return pipeline_; }
  // The sources' record streams on the sound server; known once the pipeline is PLAYING.
  RecordStreams recordStreams() const;
  // Silence in place of the microphone's audio, or its audio again (see silenceRecordSource).
  void silenceMicrophone(bool silenced) const;

  // Sends end-of-stream into every source, each from GStreamer's thread pool, and returns at
  // once: a source takes the event once its read is interrupted, and the pipeline would hand
  // it to one source after another on the calling thread.
  void endSources();
  // Whether `object` belongs to the encoding and writing half, whose failures are the
  // recording's rather than the stream's.
  static bool isRecordingElement(GstObject* object);
  // The source `object` records, if it is one of the sources.
  static std::optional<StreamOutputType> sourceType(GstObject* object);

  // How many writes of the file have begun and how many have returned; from any thread.
  struct Writes {
    std::uint64_t begun = 0;
    std::uint64_t done = 0;
  };
  Writes writes() const;

 private:
  CapturePipeline();
  void addAll(const PipelinePlan& plan);
  GstElement* addSource(const char* name, RecordSourceSettings settings, StreamOutputType type,
                        std::vector<OutputTarget> targets);
  void addRecording(GstElement* mixer, const PipelinePlan& plan);

  std::unique_ptr<OutputFile> output_;  // declared first: closed after the pipeline is gone
  GstElement* pipeline_;
  GstElement* fileSink_ = nullptr;             // owned by the pipeline
  std::atomic<std::uint64_t> writesBegun_{0};  // counted by a probe on the file sink's input
  // The probes that carry state of their own, removed before the pipeline stops; each pad is a
  // reference held.
  std::vector<std::pair<GstPad*, unsigned long>> probes_;
};

}  // namespace platform::linux_gst
