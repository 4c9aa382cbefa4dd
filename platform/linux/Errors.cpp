// The service's errors as the core sees them.
//
// Made on whichever thread meets the failure (mostly the loop thread) and handed over by value;
// they own no platform object, so they need no finishing.
#include "platform/linux/Errors.h"

#include <glib.h>

namespace platform::linux_gst {

PlatformError fromGError(const GError* error) {
  return PlatformError(kErrorTypeName, g_quark_to_string(error->domain), error->code,
                       error->message ? error->message : "");
}

PlatformError serviceError(ServiceErrorCode code, const std::string& description) {
  return PlatformError(kErrorTypeName, kServiceErrorDomain, static_cast<std::int64_t>(code),
                       description);
}

}  // namespace platform::linux_gst
