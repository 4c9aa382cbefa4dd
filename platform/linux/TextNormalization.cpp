#include "platform/TextNormalization.h"

#include <glib.h>

#include <memory>

namespace platform {

std::string canonicalComposition(std::string_view utf8) {
  std::unique_ptr<gchar, decltype(&g_free)> composed(
      g_utf8_normalize(utf8.data(), static_cast<gssize>(utf8.size()), G_NORMALIZE_NFC), &g_free);
  if (!composed) return std::string(utf8);
  return composed.get();
}

}  // namespace platform
