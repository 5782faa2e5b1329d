// The fault-detection matrix's claims: the healthy bench passes every test, and each fault fails
// at least the tests that exist to catch it.
#include <gtest/gtest.h>

#include <algorithm>

#include "fault_matrix.h"

namespace {

class FaultMatrixTest : public ::testing::TestWithParam<fault_matrix::Catch> {
 protected:
  static std::vector<std::string> failing(const fault_matrix::Row& row) {
    const std::vector<std::string> names = fault_matrix::test_names();
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < row.cells.size(); ++i) {
      if (!row.cells[i].passed) failed.push_back(names[i]);
    }
    return failed;
  }
};

TEST(FaultMatrixHealthyTest, TheHealthyBenchPassesEveryTest) {
  const fault_matrix::Row row = fault_matrix::run_row(nullptr);
  ASSERT_EQ(row.cells.size(), fault_matrix::test_names().size());
  for (std::size_t i = 0; i < row.cells.size(); ++i) {
    EXPECT_EQ(row.cells[i].detail, "passed") << fault_matrix::test_names()[i];
  }
}

TEST(FaultMatrixHealthyTest, EveryCataloguedFaultHasItsCatchesNamed) {
  for (const sim::FaultEntry& entry : sim::fault_catalogue()) {
    const auto catches = fault_matrix::expected_catches();
    EXPECT_TRUE(std::any_of(catches.begin(), catches.end(), [&](const auto& c) {
      return std::string(c.fault) == entry.name;
    })) << entry.name;
  }
}

TEST_P(FaultMatrixTest, TheFaultFailsTheTestsMadeToCatchIt) {
  const sim::FaultRequest fault{sim::find_fault(GetParam().fault), sim::kDefaultFaultAddress};
  ASSERT_NE(fault.entry, nullptr);
  const fault_matrix::Row row = fault_matrix::run_row(&fault);
  const std::vector<std::string> failed = failing(row);
  for (const char* test : GetParam().tests) {
    EXPECT_NE(std::find(failed.begin(), failed.end(), test), failed.end())
        << GetParam().fault << " passes " << test;
  }
  // A fault that fails no test still shows: the calls that failed stand beside "passed".
  if (GetParam().tests.empty()) {
    EXPECT_TRUE(std::any_of(row.cells.begin(), row.cells.end(), [](const auto& cell) {
      return cell.detail.find("VISA error") != std::string::npos;
    }));
  }
}

INSTANTIATE_TEST_SUITE_P(EachFault, FaultMatrixTest,
                         ::testing::ValuesIn(fault_matrix::expected_catches().begin(),
                                             fault_matrix::expected_catches().end()),
                         [](const auto& row_info) {
                           std::string name = row_info.param.fault;
                           std::erase(name, '-');
                           return name;
                         });

TEST(FaultMatrixTextTest, MarkdownAndCsvHoldEveryRowAndCell) {
  std::vector<fault_matrix::Row> rows = {
      {"healthy", std::vector<fault_matrix::Cell>(12, {true, "passed"})},
      {"stamp-skew@8", std::vector<fault_matrix::Cell>(12, {true, "passed"})}};
  rows[1].cells[9] = {false, "failed: 4 failures in 4 passes"};
  const std::string markdown = fault_matrix::markdown(rows);
  EXPECT_EQ(markdown.substr(0, markdown.find('\n')),
            "| fault | REC | RECM | TRNSRECM | TRNORECM | TRNDRECM | TRNCRECM | SELFLOOP | "
            "SELFLOOP2 | SELFLONG | STAMP | Self Test | Memory Test |");
  EXPECT_NE(markdown.find("| stamp-skew@8 | passed |"), std::string::npos);
  EXPECT_NE(markdown.find("| failed: 4 failures in 4 passes | passed | passed |\n"),
            std::string::npos);
  const std::string csv = fault_matrix::csv(rows);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
  EXPECT_NE(csv.find("\"stamp-skew@8\",\"passed\""), std::string::npos);
  EXPECT_NE(csv.find(",\"failed: 4 failures in 4 passes\","), std::string::npos);
}

}  // namespace
