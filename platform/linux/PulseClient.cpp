// What every connection of the tool to the sound server shares.
//
// Plain calls on whichever thread owns the context; nothing is kept here.
#include "platform/linux/PulseClient.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/volume.h>

namespace platform::linux_gst {

pa_context* newPulseContext(pa_mainloop_api* api) {
  pa_proplist* properties = pa_proplist_new();
  if (!properties) return nullptr;
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, kPulseClientName);
  pa_context* context = pa_context_new_with_proplist(api, kPulseClientName, properties);
  pa_proplist_free(properties);
  return context;
}

bool connectPulseContext(pa_context* context) {
  return pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
}

void release(pa_operation* operation) {
  if (operation) pa_operation_unref(operation);
}

void recordAtSourceVolume(pa_context* context, std::uint32_t stream, std::uint8_t channels) {
  pa_cvolume unity;
  pa_cvolume_reset(&unity, channels);
  release(pa_context_set_source_output_volume(context, stream, &unity, nullptr, nullptr));
}

}  // namespace platform::linux_gst
