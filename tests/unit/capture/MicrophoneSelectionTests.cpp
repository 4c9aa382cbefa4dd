#include <gtest/gtest.h>

#include "capture/MicrophoneSelection.h"

namespace capture {
namespace {

using platform::AudioCaptureDevice;

TEST(MicrophoneSelection, ExactNameFirstThenContainmentEitherWayInOrder) {
  const std::string precomposed = "Caf\xC3\xA9 Mic";  // é as U+00E9
  const std::string decomposed = "Cafe\xCC\x81 Mic";  // e + U+0301
  const std::vector<AudioCaptureDevice> devices{{"pro", "Desk Pro"},
                                                {"plain", "Desk"},
                                                {"usb", "USB Audio Interface"},
                                                {"usb2", "USB Audio Interface 2"},
                                                {"padded", " Mic B "},
                                                {"cafe", precomposed + " USB"},
                                                {"blank", ""}};
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"Desk", "plain"},                       // exact beats an earlier containing name
      {"USB", "usb"},                          // the first name that contains it
      {"USB Audio Interface 2 front", "usb"},  // the first name it contains; "" counts not
      {" Mic B ", "padded"},                   // untrimmed
      {"mic b", std::nullopt},                 // case matters
      {decomposed, "cafe"},                    // canonically equivalent forms are equal
      {"Cafe Mic", std::nullopt},              // and the accent is not dropped
  };
  for (const auto& [requested, expected] : cases) {
    const auto device = findMicrophoneByName(devices, requested);
    EXPECT_EQ(device ? std::optional(device->uniqueID) : std::nullopt, expected) << requested;
  }
}

}  // namespace
}  // namespace capture
