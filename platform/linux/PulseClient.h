#pragma once

#include <cstdint>

struct pa_context;
struct pa_mainloop_api;
struct pa_operation;

namespace platform::linux_gst {

// The tool as the sound server lists its clients and streams.
inline constexpr const char* kPulseClientName = "tessaloquin-audio-capture";

// A context of the tool on `api`, not yet connected; null when libpulse cannot make one (its
// memory pool is refused under a low address-space limit, for one), which callers must report.
pa_context* newPulseContext(pa_mainloop_api* api);

// Starts connecting to the server named by the environment, never spawning one; false when it
// cannot even begin (the context then tells why).
bool connectPulseContext(pa_context* context);

// Drops a request whose callback needs nothing more of it; the context keeps it running.
void release(pa_operation* operation);

// Asks the server to record the tool's stream at its source's own volume, whatever volume the
// server restored for the tool or a mixer set; fire and forget.
void recordAtSourceVolume(pa_context* context, std::uint32_t stream, std::uint8_t channels);

}  // namespace platform::linux_gst
