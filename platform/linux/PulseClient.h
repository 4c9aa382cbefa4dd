#pragma once

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

}  // namespace platform::linux_gst
