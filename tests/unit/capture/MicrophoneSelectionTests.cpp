#include <gtest/gtest.h>

#include "capture/MicrophoneSelection.h"

namespace capture {
namespace {

using platform::AudioCaptureDevice;

std::optional<std::string> chosenID(const std::vector<AudioCaptureDevice>& devices,
                                    std::string_view requested) {
  auto device = findMicrophoneByName(devices, requested);
  if (!device) return std::nullopt;
  return device->uniqueID;
}

TEST(MicrophoneSelection, ExactNameBeatsAnEarlierContainingName) {
  EXPECT_EQ(chosenID({{"pro", "Mic Pro"}, {"plain", "Mic"}}, "Mic"), "plain");
}

TEST(MicrophoneSelection, ContainmentCountsInBothDirectionsFirstInOrderWins) {
  const std::vector<AudioCaptureDevice> devices{
      {"desk", "Desk Mic"}, {"usb", "USB Audio Interface"}, {"usb2", "USB Audio Interface 2"}};
  EXPECT_EQ(chosenID(devices, "USB"), "usb");
  EXPECT_EQ(chosenID(devices, "Desk Mic front"), "desk");
}

TEST(MicrophoneSelection, NoMatchGivesNone) {
  EXPECT_EQ(chosenID({{"desk", "Desk Mic"}}, "desk mic"), std::nullopt);  // case matters
  EXPECT_EQ(chosenID({}, "Desk Mic"), std::nullopt);
  EXPECT_EQ(chosenID({{"blank", ""}}, "Desk Mic"), std::nullopt);  // "" is in every name
}

TEST(MicrophoneSelection, NameIsUsedUntrimmed) {
  EXPECT_EQ(chosenID({{"a", "Mic A"}, {"b", " Mic B "}}, " Mic B "), "b");
  EXPECT_EQ(chosenID({{"a", "Mic"}}, "Mic "), "a");  // by containment, not by trimming
}

TEST(MicrophoneSelection, CanonicallyEquivalentFormsCompareEqual) {
  const std::string precomposed = "Caf\xC3\xA9 Mic";  // é as U+00E9
  const std::string decomposed = "Cafe\xCC\x81 Mic";  // e + U+0301
  EXPECT_EQ(chosenID({{"other", "Cafe Mic Pro"}, {"cafe", precomposed}}, decomposed), "cafe");
  EXPECT_EQ(chosenID({{"cafe", decomposed}}, precomposed), "cafe");
  // Containment too, and the accent is not dropped: "Cafe" alone is no match for "Café".
  EXPECT_EQ(chosenID({{"cafe", precomposed + " USB"}}, decomposed), "cafe");
  EXPECT_EQ(chosenID({{"cafe", precomposed}}, "Cafe Mic"), std::nullopt);
}

}  // namespace
}  // namespace capture
