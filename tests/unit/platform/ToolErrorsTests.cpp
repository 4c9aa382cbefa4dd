// The code table that parents read is README's: every code the tool can raise must be there, and
// README must promise none the tool does not have.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "platform/ToolErrors.h"

namespace {

// Rows read "| `Domain` | 12 | ...". Parsed by hand: GCC 12 warns falsely inside <regex>.
std::set<std::int64_t> readmeCodesOf(const std::string& domain) {
  std::ifstream readme(TESSALOQUIN_README);
  EXPECT_TRUE(readme) << TESSALOQUIN_README;
  const std::string start = "| `" + domain + "` | ";
  std::set<std::int64_t> codes;
  for (std::string line; std::getline(readme, line);) {
    if (!line.starts_with(start)) continue;
    const std::size_t digits = line.find_first_not_of("0123456789", start.size());
    if (digits == start.size() || digits == std::string::npos) continue;
    if (line.compare(digits, 2, " |") != 0) continue;
    codes.insert(std::stoll(line.substr(start.size(), digits - start.size())));
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
