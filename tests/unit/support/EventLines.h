#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace test_support {

// Parses every captured line as one JSON object; a line that is not one fails the test.
inline std::vector<nlohmann::json> parseEventLines(const std::vector<std::string>& lines) {
  std::vector<nlohmann::json> events;
  for (const std::string& line : lines) {
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << "not a JSON object: " << line;
    events.push_back(std::move(event));
  }
  return events;
}

}  // namespace test_support
