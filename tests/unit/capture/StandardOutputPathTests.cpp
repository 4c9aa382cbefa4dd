#include <fstream>

#include "SessionFixture.h"
#include "capture/StandardOutputPath.h"

namespace capture {
namespace {

TEST(StandardOutputPath, EveryNameOfTheRecordStreamsFileIsIt) {
  const TestFolder folder;
  std::ofstream(folder / "other");
  StandardOutputAt redirected(folder / "records.jsonl");
  std::filesystem::create_hard_link(folder / "records.jsonl", folder / "link");
  EXPECT_TRUE(isStandardOutput(folder / "records.jsonl"));
  EXPECT_TRUE(isStandardOutput(folder / "link"));
  EXPECT_TRUE(isStandardOutput("/dev/stdout"));
  EXPECT_FALSE(isStandardOutput(folder / "other"));
  EXPECT_FALSE(isStandardOutput(folder / "not-yet-there.mov"));
}

TEST(StandardOutputPath, ACharacterDeviceStaysAllowed) {
  StandardOutputAt redirected("/dev/null");
  EXPECT_FALSE(isStandardOutput("/dev/null"));
}

}  // namespace
}  // namespace capture
