#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace app {

struct RunOptions {
  std::filesystem::path outputURL;  // a path: the name is the capture session's, see there
  bool captureMicrophone = true;
  std::optional<std::string> microphoneName;
  // SIGTERM and SIGHUP stop the recording as SIGINT does, instead of ending the process.
  bool stopOnTermination = false;
  // Each source's audio on its own; the microphone's only when the microphone is recorded.
  std::optional<std::filesystem::path> systemPcm;
  std::optional<std::filesystem::path> microphonePcm;
};

struct ProbeRequest {};
struct MicrophoneListRequest {};
struct MissingOutput {};

using CommandLine = std::variant<ProbeRequest, MicrophoneListRequest, MissingOutput, RunOptions>;

// `arguments` is the whole argument vector, program path included: options are searched from
// element 0 on. Pure, so the current directory comes in as a parameter; an empty one, for a
// directory that cannot be determined, leaves a relative output path relative.
CommandLine parseCommandLine(const std::vector<std::string>& arguments,
                             const std::filesystem::path& currentDirectory);

}  // namespace app
