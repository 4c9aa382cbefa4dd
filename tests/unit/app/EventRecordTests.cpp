#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/EventRecord.h"

namespace app {
namespace {

TEST(EventRecord, StartsWithTheEventKeyAndKeepsInsertionOrder) {
  EventRecord record("level");
  record.set("systemSamples", std::uint64_t{1}).set("systemRms", 0.5).set("ok", true);

  const auto& entries = record.entries();
  ASSERT_EQ(entries.size(), 4U);
  EXPECT_EQ(entries[0].first, "event");
  EXPECT_EQ(std::get<std::string>(entries[0].second), "level");
  EXPECT_EQ(entries[1].first, "systemSamples");
  EXPECT_EQ(entries[2].first, "systemRms");
  EXPECT_EQ(entries[3].first, "ok");
}

TEST(EventRecord, SettingAnExistingKeyReplacesItsValueInPlace) {
  EventRecord record("error");
  record.set("code", "first").set("stage", "start").set("code", std::int64_t{7});

  ASSERT_EQ(record.entries().size(), 3U);
  EXPECT_EQ(record.entries()[1].first, "code");
  EXPECT_EQ(std::get<std::int64_t>(record.entries()[1].second), 7);

  record.set("event", "warning");
  EXPECT_EQ(std::get<std::string>(record.entries()[0].second), "warning");
}

TEST(EventRecord, FindReturnsTheValueOrNullWhenAbsent) {
  EventRecord record("probe");
  record.set("granted", true);

  const EventValue* granted = record.find("granted");
  ASSERT_NE(granted, nullptr);
  EXPECT_TRUE(std::get<bool>(*granted));
  EXPECT_EQ(record.find("missing"), nullptr);
  EXPECT_EQ(record.find("Granted"), nullptr);
}

TEST(EventRecord, LiteralsKeepTheirNaturalKind) {
  EventRecord record("x");
  record.set("text", "capture_failed").set("signed", -3).set("flag", false).set("real", 1.5);

  EXPECT_TRUE(std::holds_alternative<std::string>(*record.find("text")));
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(*record.find("signed")));
  EXPECT_TRUE(std::holds_alternative<bool>(*record.find("flag")));
  EXPECT_TRUE(std::holds_alternative<double>(*record.find("real")));
}

}  // namespace
}  // namespace app
