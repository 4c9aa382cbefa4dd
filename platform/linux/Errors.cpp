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
