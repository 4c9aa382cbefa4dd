#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace app {
namespace {

const std::filesystem::path workingDirectory = "/home/user/work";

CommandLine parse(const std::vector<std::string>& arguments) {
  return parseCommandLine(arguments, workingDirectory);
}

RunOptions runOptions(const std::vector<std::string>& arguments) {
  const CommandLine parsed = parse(arguments);
  EXPECT_TRUE(std::holds_alternative<RunOptions>(parsed));
  return std::holds_alternative<RunOptions>(parsed) ? std::get<RunOptions>(parsed) : RunOptions{};
}

using Arguments = std::vector<std::string>;

TEST(CommandLine, ProbeWinsWhereverItStands) {
  for (const Arguments& arguments : std::vector<Arguments>{
           {"tool", "--probe"},
           {"--probe"},
           {"tool", "--output", "a.mov", "--probe"},
           {"tool", "--probe", "--output", "a.mov"},
           {"tool", "--output", "--probe"},
           {"tool", "--output", "a.mov", "--microphone-name", "--probe"},
       }) {
    EXPECT_TRUE(std::holds_alternative<ProbeRequest>(parse(arguments))) << arguments.back();
  }
}

TEST(CommandLine, OutputWithoutAValueIsMissing) {
  for (const Arguments& arguments : std::vector<Arguments>{
           {},
           {"tool"},
           {"tool", "--output"},
           {"tool", "--output=a.mov"},
           {"tool", "--Output", "a.mov"},
           {"tool", "-o", "a.mov"},
           {"tool", "--microphone", "off", "--microphone-name", "Mic"},
           {"tool", "a.mov", "--output"},
       }) {
    EXPECT_TRUE(std::holds_alternative<MissingOutput>(parse(arguments)))
        << (arguments.empty() ? "(empty)" : arguments.back());
  }
}

TEST(CommandLine, OutputPathIsResolvedAgainstTheWorkingDirectory) {
  EXPECT_EQ(runOptions({"tool", "--output", "a.mov"}).outputURL, "/home/user/work/a.mov");
  EXPECT_EQ(runOptions({"tool", "--output", "sub/b.mov"}).outputURL, "/home/user/work/sub/b.mov");
  EXPECT_EQ(runOptions({"tool", "--output", "../c.mov"}).outputURL, "/home/user/work/../c.mov");
  EXPECT_EQ(runOptions({"tool", "--output", "/tmp/d.mov"}).outputURL, "/tmp/d.mov");
}

TEST(CommandLine, OnlyTheFirstOccurrenceOfAnOptionCounts) {
  const RunOptions options =
      runOptions({"tool", "--output", "first.mov", "--microphone", "on", "--microphone-name", "One",
                  "--output", "second.mov", "--microphone", "off", "--microphone-name", "Two"});
  EXPECT_EQ(options.outputURL, "/home/user/work/first.mov");
  EXPECT_TRUE(options.captureMicrophone);
  EXPECT_EQ(options.microphoneName, "One");
}

TEST(CommandLine, OptionsAreSearchedFromTheFirstElement) {
  EXPECT_EQ(runOptions({"--output", "a.mov"}).outputURL, "/home/user/work/a.mov");
}

TEST(CommandLine, UnknownArgumentsAreIgnored) {
  const RunOptions options = runOptions({"tool", "--verbose", "x", "--output", "a.mov", "-h"});
  EXPECT_EQ(options.outputURL, "/home/user/work/a.mov");
  EXPECT_TRUE(options.captureMicrophone);
  EXPECT_EQ(options.microphoneName, std::nullopt);
}

TEST(CommandLine, MicrophoneIsOffOnlyForExactlyOff) {
  EXPECT_TRUE(runOptions({"tool", "--output", "a.mov"}).captureMicrophone);
  EXPECT_FALSE(runOptions({"tool", "--output", "a.mov", "--microphone", "off"}).captureMicrophone);
  for (const std::string value : {"OFF", "Off", "no", "false", "0", "", "off "}) {
    EXPECT_TRUE(runOptions({"tool", "--output", "a.mov", "--microphone", value}).captureMicrophone)
        << '"' << value << '"';
  }
  EXPECT_TRUE(runOptions({"tool", "--output", "a.mov", "--microphone"}).captureMicrophone);
}

TEST(CommandLine, MicrophoneNameIsTakenUnchangedOrLeftAbsent) {
  EXPECT_EQ(runOptions({"tool", "--output", "a.mov"}).microphoneName, std::nullopt);
  EXPECT_EQ(runOptions({"tool", "--output", "a.mov", "--microphone-name"}).microphoneName,
            std::nullopt);
  EXPECT_EQ(runOptions({"tool", "--output", "a.mov", "--microphone-name", ""}).microphoneName,
            std::optional<std::string>(""));
  EXPECT_EQ(runOptions({"tool", "--microphone-name", " Caf\xC3\xA9 Mic ", "--output", "a.mov"})
                .microphoneName,
            " Caf\xC3\xA9 Mic ");
}

TEST(CommandLine, AValueThatIsAnOptionNameCountsAsBoth) {
  const RunOptions options = runOptions({"tool", "--output", "--microphone", "off"});
  EXPECT_EQ(options.outputURL, "/home/user/work/--microphone");
  EXPECT_FALSE(options.captureMicrophone);

  const RunOptions named =
      runOptions({"tool", "--microphone-name", "--output", "a.mov", "--microphone", "off"});
  EXPECT_EQ(named.microphoneName, "--output");
  EXPECT_EQ(named.outputURL, "/home/user/work/a.mov");
  EXPECT_FALSE(named.captureMicrophone);
}

}  // namespace
}  // namespace app
