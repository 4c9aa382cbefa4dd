#pragma once

#include <optional>
#include <string>

#include "platform/linux/ServerRouting.h"

namespace platform::linux_gst {

// The description of an output on which an application plays sound that none of the tool's
// record streams (`recordStreams`) hears; none when every playing
// application is heard. System audio is one output's monitor, so an application set to play on
// another device (a meeting's headset beside the default speakers) is not in the movie.
//
// Heard is an output whose monitor a record stream records, and a virtual output that plays
// into a heard one (a remap, a combined or an echo-cancelling output). An output whose monitor a
// module makes a source of (the feed of a virtual microphone, a remapped input) is no output
// that anyone listens to, so sound there is not told, recorded as the microphone or not.
// Streams of modules (a loopback, a combined output's) and paused streams are not an
// application playing, and an application that records a heard output's monitor plays heard
// sound on (an equaliser such as EasyEffects, whose own output is the default).
std::optional<std::string> unrecordedOutput(const ServerRouting& routing,
                                            const RecordStreams& recordStreams);

}  // namespace platform::linux_gst
