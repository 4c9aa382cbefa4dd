#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/JsonWriter.h"

namespace app {
namespace {

using nlohmann::json;

json parsed(const EventRecord& record) {
  const std::optional<std::string> text = serializeJsonObject(record);
  EXPECT_TRUE(text.has_value());
  return text ? json::parse(*text) : json();
}

EventRecord withValue(EventValue value) {
  EventRecord record("test");
  record.set("v", std::move(value));
  return record;
}

TEST(JsonWriter, WritesACompactObjectInInsertionOrder) {
  EventRecord record("probe");
  record.set("granted", true).set("denied", false).set("count", std::uint64_t{0});

  EXPECT_EQ(serializeJsonObject(record),
            R"({"event":"probe","granted":true,"denied":false,"count":0})");
}

TEST(JsonWriter, IntegersOfBothKindsRoundTripExactly) {
  constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
  constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
  constexpr auto uint64Max = std::numeric_limits<std::uint64_t>::max();
  EventRecord record("numbers");
  record.set("min", int64Min).set("max", int64Max).set("minusOne", std::int64_t{-1});
  record.set("umax", uint64Max).set("zero", std::uint64_t{0});

  const json object = parsed(record);
  EXPECT_EQ(object.at("min").get<std::int64_t>(), int64Min);
  EXPECT_EQ(object.at("max").get<std::int64_t>(), int64Max);
  EXPECT_EQ(object.at("minusOne").get<std::int64_t>(), -1);
  EXPECT_TRUE(object.at("umax").is_number_unsigned());
  EXPECT_EQ(object.at("umax").get<std::uint64_t>(), uint64Max);
  EXPECT_EQ(object.at("zero").get<std::uint64_t>(), 0U);
}

class DoubleRoundTrip : public testing::TestWithParam<double> {};

TEST_P(DoubleRoundTrip, ReadsBackAsTheSameValue) {
  const json object = parsed(withValue(GetParam()));
  EXPECT_TRUE(object.at("v").is_number());
  EXPECT_EQ(object.at("v").get<double>(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(JsonWriter, DoubleRoundTrip,
                         testing::Values(0.1, 2.5, 0.0, 1.0, -7.25, 1e-300, 5e-324, 1e21, 1e-7,
                                         0.30000000000000004, 1.7976931348623157e308,
                                         -1.7976931348623157e308, 2.2250738585072014e-308));

TEST(JsonWriter, NegativeZeroKeepsItsSign) {
  const std::string text = serializeJsonObject(withValue(-0.0)).value();
  const std::string prefix = R"({"event":"test","v":)";
  ASSERT_EQ(text.rfind(prefix, 0), 0U);
  const std::string number = text.substr(prefix.size(), text.size() - prefix.size() - 1);
  double value = 1.0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  EXPECT_EQ(value, 0.0);
  EXPECT_TRUE(std::signbit(value)) << number;
}

TEST(JsonWriter, NonFiniteDoublesDropTheRecord) {
  EXPECT_EQ(serializeJsonObject(withValue(std::numeric_limits<double>::quiet_NaN())), std::nullopt);
  EXPECT_EQ(serializeJsonObject(withValue(std::numeric_limits<double>::infinity())), std::nullopt);
  EXPECT_EQ(serializeJsonObject(withValue(-std::numeric_limits<double>::infinity())), std::nullopt);
}

TEST(JsonWriter, EscapesQuotesBackslashesAndControlCharactersInKeysAndValues) {
  const std::string awkward = std::string("q\"b\\s/\b\f\n\r\t") + std::string("\0\x01\x1f", 3);
  EventRecord record("escape");
  record.set(awkward, awkward);

  const std::string text = serializeJsonObject(record).value();
  const std::string escaped = R"("q\"b\\s/\b\f\n\r\t\u0000\u0001\u001f")";
  EXPECT_EQ(text, R"({"event":"escape",)" + escaped + ":" + escaped + "}");
  EXPECT_EQ(json::parse(text).at(awkward).get<std::string>(), awkward);
}

TEST(JsonWriter, WritesDeleteAndNonAsciiAsRawUtf8) {
  const std::string text = "caf\xC3\xA9 \xF0\x9F\x98\x80 \x7F \xE2\x82\xAC";
  EventRecord record("utf8");
  record.set(text, text);

  const std::string written = serializeJsonObject(record).value();
  EXPECT_EQ(written, R"({"event":"utf8",")" + text + R"(":")" + text + R"("})");
  EXPECT_EQ(json::parse(written).at(text).get<std::string>(), text);
}

class ValidUtf8Boundary : public testing::TestWithParam<std::string> {};

TEST_P(ValidUtf8Boundary, IsWrittenUnchanged) {
  EXPECT_EQ(parsed(withValue(GetParam())).at("v").get<std::string>(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(JsonWriter, ValidUtf8Boundary,
                         testing::Values("\xC2\x80",            // U+0080
                                         "\xDF\xBF",            // U+07FF
                                         "\xE0\xA0\x80",        // U+0800
                                         "\xED\x9F\xBF",        // U+D7FF
                                         "\xEE\x80\x80",        // U+E000
                                         "\xEF\xBF\xBF",        // U+FFFF
                                         "\xF0\x90\x80\x80",    // U+10000
                                         "\xF4\x8F\xBF\xBF"));  // U+10FFFF

class InvalidUtf8 : public testing::TestWithParam<std::string> {};

TEST_P(InvalidUtf8, DropsTheRecordAsValue) {
  EXPECT_EQ(serializeJsonObject(withValue(GetParam())), std::nullopt);
}

TEST_P(InvalidUtf8, DropsTheRecordAsKey) {
  EventRecord record("test");
  record.set("fine", "ok").set("k" + GetParam(), true);
  EXPECT_EQ(serializeJsonObject(record), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(JsonWriter, InvalidUtf8,
                         testing::Values("\x80",                // lone continuation byte
                                         "\xBF",                // lone continuation byte
                                         "\xC0\xAF",            // overlong '/'
                                         "\xC1\xBF",            // overlong U+007F
                                         "\xE0\x80\xAF",        // overlong, three bytes
                                         "\xE0\x9F\xBF",        // overlong U+07FF
                                         "\xF0\x80\x80\xAF",    // overlong, four bytes
                                         "\xF0\x8F\xBF\xBF",    // overlong U+FFFF
                                         "\xED\xA0\x80",        // U+D800
                                         "\xED\xBF\xBF",        // U+DFFF
                                         "\xF4\x90\x80\x80",    // U+110000
                                         "\xF5\x80\x80\x80",    // lead past U+10FFFF
                                         "\xFE",                // never a lead byte
                                         "\xFF",                // never a lead byte
                                         "\xC3",                // truncated at the end
                                         "\xE2\x82",            // truncated at the end
                                         "\xF0\x9F\x98",        // truncated at the end
                                         "\xC3(",               // missing continuation
                                         "\xE2\x28\xA1",        // bad second byte
                                         "\xF0\x9F\x98\x28"));  // bad last byte

}  // namespace
}  // namespace app
