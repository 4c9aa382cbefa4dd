#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

// A failure as the platform reported it (NSError on macOS, GError on Linux), carried across the
// boundary as data: the core only maps it to a stage and an exit status and reports these fields
// verbatim. The tool's own errors are made of the same type so that they read alike.
class PlatformError : public std::runtime_error {
 public:
  PlatformError(std::string typeName, std::string domain, std::int64_t code,
                const std::string& description)
      : std::runtime_error(description),
        typeName_(std::move(typeName)),
        domain_(std::move(domain)),
        code_(code) {}

  // The unqualified name of the platform's error type, e.g. "NSError" or "GError".
  const std::string& typeName() const { return typeName_; }
  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  std::string description() const { return what(); }

 private:
  std::string typeName_;
  std::string domain_;
  std::int64_t code_;
};

}  // namespace platform
