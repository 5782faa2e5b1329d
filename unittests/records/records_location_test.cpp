#include "records/records_location.h"

#include <gtest/gtest.h>

namespace records {
namespace {

struct LocationCase {
  const char* label;
  std::optional<std::string> option;  // --records' value
  std::optional<std::string> environment;
  std::string folder;
  std::string path;
  bool error = false;
};

class Location : public ::testing::TestWithParam<LocationCase> {};

TEST_P(Location, FollowsTheCommandLineThenTheEnvironmentThenTheDataFolder) {
  const LocationCase& c = GetParam();
  const RecordsLocation location = resolve_records_location(c.option, c.environment, c.folder);
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
        LocationCase{"option", "/x/a.db", "/srv/r.db", "/data", "/x/a.db"},
        LocationCase{"option_without_folder", "r.db", std::nullopt, "", "r.db"},
        LocationCase{"no_folder", {}, std::nullopt, "", "", true}),
    [](const auto& row) { return std::string(row.param.label); });

}  // namespace
}  // namespace records
