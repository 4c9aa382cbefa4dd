#pragma once

#include <string>
#include <string_view>

namespace platform {

// The canonical composition (NFC) of UTF-8 text, by the platform's own normaliser, so that
// canonically equivalent names compare equal byte for byte. Text that is not valid UTF-8 comes
// back unchanged.
std::string canonicalComposition(std::string_view utf8);

}  // namespace platform
