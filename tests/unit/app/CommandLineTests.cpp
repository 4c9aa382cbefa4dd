#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace app {
namespace {

// The parse result in one line, so that a table can say what each command line means.
std::string meaning(const CommandLine& parsed) {
  if (std::holds_alternative<ProbeRequest>(parsed)) return "probe";
  if (std::holds_alternative<MissingOutput>(parsed)) return "missing output";
  const auto& options = std::get<RunOptions>(parsed);
  return options.outputURL.string() + (options.captureMicrophone ? " mic" : " no mic") +
         (options.microphoneName ? " [" + *options.microphoneName + "]" : "");
}

TEST(CommandLine, EachCommandLineMeansWhatItShould) {
  const struct {
    std::vector<std::string> arguments;
    std::string meaning;
  } cases[] = {
      // --probe wins wherever it stands, even as another option's value.
      {{"tool", "--probe"}, "probe"},
      {{"--probe"}, "probe"},
      {{"tool", "--output", "a.mov", "--probe"}, "probe"},
      {{"tool", "--probe", "--output", "a.mov"}, "probe"},
      {{"tool", "--output", "--probe"}, "probe"},
      {{"tool", "--output", "a.mov", "--microphone-name", "--probe"}, "probe"},
      // --output, spelled exactly, needs a value after it.
      {{}, "missing output"},
      {{"tool"}, "missing output"},
      {{"tool", "--output"}, "missing output"},
      {{"tool", "--output=a.mov"}, "missing output"},
      {{"tool", "--Output", "a.mov"}, "missing output"},
      {{"tool", "-o", "a.mov"}, "missing output"},
      {{"tool", "--microphone", "off", "--microphone-name", "Mic"}, "missing output"},
      {{"tool", "a.mov", "--output"}, "missing output"},
      // The path is resolved against the working directory; options are searched from the first
      // element, unknown arguments are ignored and only the first occurrence of an option counts.
      {{"tool", "--output", "a.mov"}, "/cwd/a.mov mic"},
      {{"--output", "a.mov"}, "/cwd/a.mov mic"},
      {{"tool", "--output", "sub/b.mov"}, "/cwd/sub/b.mov mic"},
      {{"tool", "--output", "../c.mov"}, "/cwd/../c.mov mic"},
      {{"tool", "--output", "/tmp/d.mov"}, "/tmp/d.mov mic"},
      {{"tool", "--verbose", "x", "--output", "a.mov", "-h"}, "/cwd/a.mov mic"},
      {{"tool", "--output", "1.mov", "--microphone", "on", "--microphone-name", "One", "--output",
        "2.mov", "--microphone", "off", "--microphone-name", "Two"},
       "/cwd/1.mov mic [One]"},
      // The microphone is off only for exactly "off".
      {{"tool", "--output", "a", "--microphone", "off"}, "/cwd/a no mic"},
      {{"tool", "--output", "a", "--microphone"}, "/cwd/a mic"},
      // The microphone name is taken unchanged, or left absent when no value follows.
      {{"tool", "--output", "a", "--microphone-name"}, "/cwd/a mic"},
      {{"tool", "--output", "a", "--microphone-name", ""}, "/cwd/a mic []"},
      {{"tool", "--microphone-name", " Caf\xC3\xA9 Mic ", "--output", "a"},
       "/cwd/a mic [ Caf\xC3\xA9 Mic ]"},
      // A value that is an option name counts as both.
      {{"tool", "--output", "--microphone", "off"}, "/cwd/--microphone no mic"},
      {{"tool", "--microphone-name", "--output", "a", "--microphone", "off"},
       "/cwd/a no mic [--output]"},
  };
  for (const auto& [arguments, expected] : cases) {
    EXPECT_EQ(meaning(parseCommandLine(arguments, "/cwd")), expected)
        << ::testing::PrintToString(arguments);
  }
  for (const std::string value : {"OFF", "Off", "no", "false", "0", "", "off "}) {
    EXPECT_EQ(meaning(parseCommandLine({"tool", "--output", "a", "--microphone", value}, "/cwd")),
              "/cwd/a mic")
        << '"' << value << '"';
  }
}

}  // namespace
}  // namespace app
