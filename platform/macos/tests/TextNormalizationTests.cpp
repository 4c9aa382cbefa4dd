#include <gtest/gtest.h>

#include <string>

#include "platform/TextNormalization.h"

namespace {

using platform::canonicalComposition;

TEST(CoreFoundationNormalization, ComposesADecomposedLetter) {
  EXPECT_EQ(canonicalComposition("Cafe\xCC\x81 Mic"), "Caf\xC3\xA9 Mic");
}

TEST(CoreFoundationNormalization, LeavesComposedTextAlone) {
  EXPECT_EQ(canonicalComposition("Caf\xC3\xA9 Mic"), "Caf\xC3\xA9 Mic");
  EXPECT_EQ(canonicalComposition(""), "");
}

TEST(CoreFoundationNormalization, ReturnsInvalidUTF8Unchanged) {
  const std::string invalid = "USB \xFF\xFE Mic \xC3";
  EXPECT_EQ(canonicalComposition(invalid), invalid);
}

}  // namespace
