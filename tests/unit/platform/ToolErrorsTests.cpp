// The code table that parents read is README's: every code the tool can raise must be there, and
// README must promise none the tool does not have.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "platform/ToolErrors.h"

namespace {

std::set<std::int64_t> readmeCodesOf(const std::string& domain) {
  std::ifstream readme(TESSALOQUIN_README);
  EXPECT_TRUE(readme) << TESSALOQUIN_README;
  const std::regex row("^\\| `" + domain + "` \\| ([0-9]+) \\|");
  std::set<std::int64_t> codes;
  for (std::string line; std::getline(readme, line);) {
    std::smatch match;
    if (std::regex_search(line, match, row)) codes.insert(std::stoll(match[1]));
  }
  return codes;
}

TEST(ToolErrors, ReadmeTablesExactlyTheToolsCodes) {
  std::set<std::int64_t> table;
  for (const auto& entry : platform::kToolErrors) {
    table.insert(static_cast<std::int64_t>(entry.code));
    EXPECT_FALSE(entry.description.empty()) << static_cast<std::int64_t>(entry.code);
  }
  EXPECT_EQ(readmeCodesOf(std::string(platform::kToolErrorDomain)), table);
}

}  // namespace
