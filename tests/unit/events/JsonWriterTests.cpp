#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "events/JsonWriter.h"

namespace events {
namespace {

using nlohmann::json;

TEST(JsonWriter, WritesOneLineThatReadsBackAsExactIntegersAndTheSameValidText) {
  // Escapes, then the first and last code points of each UTF-8 length around the surrogates:
  // U+0080, U+07FF, U+0800, U+D7FF, U+E000, U+FFFF, U+10000 and U+10FFFF, and DEL.
  const std::string awkward = std::string("q\"b\\s/\b\f\n\r\t\0\x01\x1f", 14) +
                              "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF" +
                              "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\x7F";
  EventRecord record("probe");
  record.set("granted", true).set("denied", false).set("zero", std::uint64_t{0});
  record.set("minusOne", std::int64_t{-1}).set("min", std::numeric_limits<std::int64_t>::min());
  record.set("max", std::numeric_limits<std::int64_t>::max());
  record.set("umax", std::numeric_limits<std::uint64_t>::max()).set(awkward, awkward);

  const std::string text = serializeJsonObject(record).value();
  EXPECT_TRUE(std::ranges::none_of(text, [](unsigned char c) { return c < 0x20; })) << text;
  const json read = json::parse(text);
  EXPECT_EQ(read, (json{{"event", "probe"},
                        {"granted", true},
                        {"denied", false},
                        {"zero", 0},
                        {"minusOne", -1},
                        {"min", std::numeric_limits<std::int64_t>::min()},
                        {"max", std::numeric_limits<std::int64_t>::max()},
                        {"umax", std::numeric_limits<std::uint64_t>::max()},
                        {awkward, awkward}}));
  for (const char* key : {"zero", "minusOne", "min", "max", "umax"}) {
    EXPECT_TRUE(read.at(key).is_number_integer()) << key;
  }
}

TEST(JsonWriter, DoublesReadBackAsTheSameValueWithTheSameSign) {
  for (const double value :
       {0.1, 2.5, 0.0, -0.0, 1.0, -7.25, 1e-300, 5e-324, 1e21, 1e-7, 0.30000000000000004,
        1.7976931348623157e308, -1.7976931348623157e308, 2.2250738585072014e-308}) {
    const std::string text = serializeJsonObject(EventRecord("test").set("v", value)).value();
    const json read = json::parse(text).at("v");
    EXPECT_TRUE(read.is_number()) << text;
    EXPECT_EQ(read.get<double>(), value) << text;
    EXPECT_EQ(text.find(R"("v":-)") != std::string::npos, std::signbit(value)) << text;
  }
}

}  // namespace
}  // namespace events
