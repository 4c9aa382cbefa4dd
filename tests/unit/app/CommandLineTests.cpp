#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace app {
namespace {

// The parse result in one line, so that a table can say what each command line means.
std::string meaning(const CommandLine& parsed) {
  if (std::holds_alternative<ProbeRequest>(parsed)) return "probe";
  if (std::holds_alternative<MicrophoneListRequest>(parsed)) return "list";
  if (std::holds_alternative<MissingOutput>(parsed)) return "missing output";
  const auto& options = std::get<RunOptions>(parsed);
  return options.outputURL.string() + (options.captureMicrophone ? " mic" : " no mic") +
         (options.microphoneName ? " [" + *options.microphoneName + "]" : "") +
         (options.stopOnTermination ? " sigterm" : "") +
         (options.systemPcm ? " system>" + options.systemPcm->string() : "") +
         (options.microphonePcm ? " microphone>" + options.microphonePcm->string() : "");
}

TEST(CommandLine, EachCommandLineMeansWhatItShould) {
  const struct {
    std::vector<std::string> arguments;
    std::string meaning;
  } cases[] = {
      // --probe wins wherever it stands, even as another option's value.
      {{"tool", "--output", "a.mov", "--probe"}, "probe"},
      {{"tool", "--output", "--probe"}, "probe"},
      {{"tool", "--list-microphones", "--probe"}, "probe"},
      // Listing the microphones needs no output, and wins over a recording wherever it stands.
      {{"tool", "--list-microphones"}, "list"},
      {{"tool", "--output", "a.mov", "--microphone-name", "--list-microphones"}, "list"},
      {{"tool", "--list-microphones=1", "--output", "a"}, "/cwd/a mic"},
      // The stop on SIGTERM is asked for by the option alone, wherever it stands.
      {{"tool", "--stop-on-sigterm", "--output", "a"}, "/cwd/a mic sigterm"},
      {{"tool", "--output", "a", "--microphone-name", "--stop-on-sigterm"},
       "/cwd/a mic [--stop-on-sigterm] sigterm"},
      {{"tool", "--stop-on-sigterm"}, "missing output"},
      // --output, spelled exactly as a whole argument, needs a value after it.
      {{"tool"}, "missing output"},
      {{"tool", "--output"}, "missing output"},
      {{"tool", "--output=a.mov"}, "missing output"},
      {{"tool", "--Output", "a.mov"}, "missing output"},
      // A relative path is taken from the working directory; options are searched from the first
      // element, unknown arguments are ignored and only the first occurrence of an option counts.
      {{"--output", "sub/a.mov"}, "/cwd/sub/a.mov mic"},
      {{"tool", "--output", "/tmp/d.mov"}, "/tmp/d.mov mic"},
      {{"tool", "--verbose", "x", "--output", "a.mov", "-h"}, "/cwd/a.mov mic"},
      {{"tool", "--output", "1.mov", "--microphone", "on", "--microphone-name", "One", "--output",
        "2.mov", "--microphone", "off", "--microphone-name", "Two"},
       "/cwd/1.mov mic [One]"},
      // The microphone is off only for exactly "off".
      {{"tool", "--output", "a", "--microphone", "off"}, "/cwd/a no mic"},
      {{"tool", "--output", "a", "--microphone", "Off"}, "/cwd/a mic"},
      {{"tool", "--output", "a", "--microphone"}, "/cwd/a mic"},
      // The microphone name is taken unchanged, or left absent when no value follows.
      {{"tool", "--output", "a", "--microphone-name"}, "/cwd/a mic"},
      {{"tool", "--microphone-name", " Caf\xC3\xA9 ", "--output", "a"},
       "/cwd/a mic [ Caf\xC3\xA9 ]"},
      // A value that is an option name counts as both.
      {{"tool", "--output", "--microphone", "off"}, "/cwd/--microphone no mic"},
      // Per-source audio paths follow the same rules; the microphone's is kept when the
      // microphone is off, for the session to ignore.
      {{"tool", "--output", "a", "--system-pcm", "s.wav", "--microphone-pcm", "/dev/fd/3"},
       "/cwd/a mic system>/cwd/s.wav microphone>/dev/fd/3"},
      {{"tool", "--microphone-pcm", "m", "--output", "a", "--microphone", "off", "--microphone-pcm",
        "n"},
       "/cwd/a no mic microphone>/cwd/m"},
      {{"tool", "--output", "a", "--system-pcm"}, "/cwd/a mic"},
      {{"tool", "--output", "a", "--system-pcm", "--probe"}, "probe"},
  };
  for (const auto& [arguments, expected] : cases) {
    EXPECT_EQ(meaning(parseCommandLine(arguments, "/cwd")), expected)
        << ::testing::PrintToString(arguments);
  }
}

}  // namespace
}  // namespace app
