#include "app/CommandLine.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace app {
namespace {

using Arguments = std::vector<std::string>;

bool contains(const Arguments& arguments, std::string_view option) {
  return std::ranges::find(arguments, option) != arguments.end();
}

// The argument after the first occurrence of `option`, whatever it says; nullopt when the
// option is absent or last.
std::optional<std::string> valueOf(const Arguments& arguments, std::string_view option) {
  auto found = std::ranges::find(arguments, option);
  if (found == arguments.end() || std::next(found) == arguments.end()) return std::nullopt;
  return *std::next(found);
}

}  // namespace

CommandLine parseCommandLine(const Arguments& arguments,
                             const std::filesystem::path& currentDirectory) {
  if (contains(arguments, "--probe")) return ProbeRequest{};
  if (contains(arguments, "--list-microphones")) return MicrophoneListRequest{};
  const std::optional<std::string> output = valueOf(arguments, "--output");
  if (!output) return MissingOutput{};
  RunOptions options;
  // An absolute path replaces the directory, a relative one is appended to it.
  options.outputURL = currentDirectory / *output;
  options.captureMicrophone = valueOf(arguments, "--microphone") != "off";
  options.microphoneName = valueOf(arguments, "--microphone-name");
  options.stopOnTermination = contains(arguments, "--stop-on-sigterm");
  if (auto path = valueOf(arguments, "--system-pcm")) options.systemPcm = currentDirectory / *path;
  if (auto path = valueOf(arguments, "--microphone-pcm")) {
    options.microphonePcm = currentDirectory / *path;
  }
  return options;
}

}  // namespace app
