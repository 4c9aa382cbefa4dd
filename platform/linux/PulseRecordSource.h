#pragma once

#include <cstdint>
#include <optional>
#include <string>

typedef struct _GstElement GstElement;

namespace platform::linux_gst {

struct RecordSourceSettings {
  std::optional<std::string> device;  // a source's name; none for the server's default input
  int sampleRate = 48000;
  int channelCount = 2;
  std::uint64_t readNs = 0;  // how much the server hands over at a time
  // Shorter reads at first: the server then hands over the first block sooner.
  std::uint64_t firstReadNs = 0;
  int firstReads = 0;
  std::uint64_t heldNs = 0;  // how much the server holds for a reader that does not read
};

// A live GStreamer source that records one sound-server source as interleaved 32-bit float at
// the settings' rate and channels (the server converts), on its streaming thread alone: unlike
// pulsesrc, which hands every read from its PulseAudio thread to a ring-buffer thread and then
// to its streaming thread, each read wakes one thread.
GstElement* makePulseRecordSource(const std::string& name, RecordSourceSettings settings);

// The server's index of the source's record stream, once the source is PAUSED.
std::optional<std::uint32_t> recordStreamIndex(GstElement* source);

}  // namespace platform::linux_gst
