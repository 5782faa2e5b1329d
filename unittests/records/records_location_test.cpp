#include "records/records_location.h"

#include <gtest/gtest.h>

namespace records {
namespace {

struct LocationCase {
  const char* label;
  std::vector<std::string> arguments;
  std::optional<std::string> environment;
  std::string folder;
  std::string path;
  bool error = false;
};

class Location : public ::testing::TestWithParam<LocationCase> {};

TEST_P(Location, FollowsTheCommandLineThenTheEnvironmentThenTheDataFolder) {
  const LocationCase& c = GetParam();
  const RecordsLocation location = resolve_records_location(c.arguments, c.environment, c.folder);
  EXPECT_EQ(location.path, c.path);
  EXPECT_EQ(!location.error.empty(), c.error) << location.error;
}

INSTANTIATE_TEST_SUITE_P(
    Choices, Location,
    ::testing::Values(
        LocationCase{"data_folder",
                     {},
                     std::nullopt,
                     "/home/t/.local/share/quor",
                     "/home/t/.local/share/quor/records.sqlite"},
        LocationCase{"data_folder_with_slash", {}, std::nullopt, "/data/", "/data/records.sqlite"},
        LocationCase{"environment", {}, "/srv/r.db", "/data", "/srv/r.db"},
        LocationCase{"empty_environment_is_unset", {}, "", "/data", "/data/records.sqlite"},
        LocationCase{"option", {"--records", "/x/a.db"}, "/srv/r.db", "/data", "/x/a.db"},
        LocationCase{"option_with_equals", {"--records=/x/b.db"}, "/srv/r.db", "/data", "/x/b.db"},
        LocationCase{"last_option_wins",
                     {"--records", "/x/a.db", "--records=/x/c.db"},
                     std::nullopt,
                     "/data",
                     "/x/c.db"},
        LocationCase{"among_other_options",
                     {"--export-records", "out.csv", "--records", "r.db", "--since", "2024-01-01"},
                     std::nullopt,
                     "/data",
                     "r.db"},
        LocationCase{"option_without_value", {"--records"}, "/srv/r.db", "/data", "", true},
        LocationCase{"option_with_empty_value", {"--records="}, std::nullopt, "/data", "", true},
        LocationCase{"similar_option_is_not_it",
                     {"--records-dir", "/y"},
                     std::nullopt,
                     "/data",
                     "/data/records.sqlite"},
        LocationCase{"no_folder", {}, std::nullopt, "", "", true}),
    [](const auto& row) { return std::string(row.param.label); });

}  // namespace
}  // namespace records
