#include <gtest/gtest.h>

#include <string>

#include "platform/TextNormalization.h"

namespace {

using platform::canonicalComposition;

TEST(CoreFoundationNormalization, ReturnsInvalidUTF8Unchanged) {
  const std::string invalid = "USB \xFF\xFE Mic \xC3";
  EXPECT_EQ(canonicalComposition(invalid), invalid);
}

}  // namespace
