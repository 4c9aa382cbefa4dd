#include <glib.h>
#include <gtest/gtest.h>

#include "platform/linux/Errors.h"

namespace platform::linux_gst {
namespace {

TEST(Errors, GErrorsKeepTheirDomainCodeAndMessage) {
  GError* error = g_error_new_literal(g_quark_from_static_string("gst-resource-error-quark"), 6,
                                      "Could not open file for writing.");
  PlatformError converted = fromGError(error);
  g_error_free(error);
  EXPECT_EQ(converted.typeName(), "GError");
  EXPECT_EQ(converted.domain(), "gst-resource-error-quark");
  EXPECT_EQ(converted.code(), 6);
  EXPECT_EQ(converted.description(), "Could not open file for writing.");
}

}  // namespace
}  // namespace platform::linux_gst
