#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "events/EventSink.h"
#include "events/JsonWriter.h"

namespace test_support {

// An event sink that keeps each record as the JSON line standard output would carry, for a test
// to read back. A record without a JSON form is kept as an empty line, which fails the reading
// test instead of vanishing as it would on standard output. Any thread may emit.
class RecordedEvents final : public events::EventSink {
 public:
  void emit(const events::EventRecord& record) override {
    std::string line = events::serializeJsonObject(record).value_or("");
    {
      std::lock_guard guard(lock_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }
  void flush() override {}

  // Every line as one JSON object; a line that is not one fails the test.
  std::vector<nlohmann::json> records() const {
    std::lock_guard guard(lock_);
    std::vector<nlohmann::json> records;
    for (const std::string& line : lines_) {
      records.push_back(nlohmann::json::parse(line, nullptr, false));
      EXPECT_TRUE(records.back().is_object()) << "not a JSON object: " << line;
    }
    return records;
  }

  // Whether a record matching `match` came within `timeout`: records of other threads are waited
  // for instead of assumed.
  bool awaitRecord(const std::function<bool(const nlohmann::json&)>& match,
                   std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] {
      for (const std::string& line : lines_) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_object() && match(record)) return true;
      }
      return false;
    });
  }

  void clear() {
    std::lock_guard guard(lock_);
    lines_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;  // guarded by lock_
};

}  // namespace test_support
