#pragma once

#include <cstdint>
#include <optional>
#include <string>

typedef struct _GstElement GstElement;

namespace platform::linux_gst {

struct RecordSourceSettings {
  std::optional<std::string> device;  // a source's name; none for the server's default input
  // What to record once the server is back after a loss, in the same terms.
  std::optional<std::string> deviceAfterLoss;
  // The server may not move the stream to another source (it ends it instead, when its source
  // goes away): a loss until a source of that name is back.
  bool keepOnDevice = false;
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

// Element messages a source posts on the bus: the server ended its recording, which goes on
// with silence ("error": a GError), it records again ("gap-seconds": the time without), and
// the server dropped audio the source did not read in time, which is silence before the block
// just handed over ("dropped-seconds").
inline constexpr const char* kSourceLostMessage = "record-source-lost";
inline constexpr const char* kSourceRestoredMessage = "record-source-restored";
inline constexpr const char* kSourceDroppedMessage = "record-source-dropped";

// The server's index of the source's record stream, once the source is PAUSED; it changes when
// the source records again after a loss.
std::optional<std::uint32_t> recordStreamIndex(GstElement* source);

// While silenced, the source hands over silence in place of what it records, in time and
// metered. The tool's own silence, not the server's mute: servers keep a mute for the
// application and apply it to its later streams. From any thread.
void silenceRecordSource(GstElement* source, bool silenced);

}  // namespace platform::linux_gst
