// The yield report as a browser shows it: quor_station writes it from a record file, headless
// Chromium (scripts/station.sh installs it for the suites) renders it to a picture and dumps its
// document, and every figure its charts carry equals the store's aggregates.
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "record_samples.h"
#include "records/record_store.h"
#include "records/yield_figures.h"
#include "station/command_line.h"
#include "station/yield_report_command.h"

namespace {

using records::Outcome;
using records::Procedure;
using records::samples::kMorning;

constexpr long long kHour = 3'600'000;
constexpr long long kDay = 24 * kHour;
// A station id a page must not take for markup.
constexpr const char* kMarkupStation = "<b>\"A&B'</b>";

std::vector<records::RunRecord> line_runs() {
  struct Run {
    const char* station;
    long long ms;
    Procedure procedure;
    Outcome outcome;
    const char* serial;
    bool simulated;
  };
  const Run runs[] = {
      {"a-line", kMorning, Procedure::rec, Outcome::failed, "QB1", false},
      {"a-line", kMorning + kHour, Procedure::rec, Outcome::passed, "QB1", false},
      {"a-line", kMorning + 2 * kHour, Procedure::self_test, Outcome::passed, "QB1", false},
      {"B-bench", kMorning + kDay, Procedure::rec, Outcome::passed, "QB2", false},
      {"B-bench", kMorning + kDay + kHour, Procedure::memory_test, Outcome::stopped, "QB2", false},
      {"B-bench", kMorning + kDay + 2 * kHour, Procedure::memory_test, Outcome::passed, "QB2",
       false},
      {"B-bench", kMorning + 2 * kDay, Procedure::rec, Outcome::refused, "", false},
      {"B-bench", kMorning + 2 * kDay + kHour, Procedure::self_test, Outcome::error, "QB6", false},
      {kMarkupStation, kMorning + 2 * kDay, Procedure::rec, Outcome::failure_limit, "QB3", false},
      {kMarkupStation, kMorning + 3 * kDay, Procedure::rec, Outcome::passed, "QB3", false},
      {kMarkupStation, kMorning + 3 * kDay + kHour, Procedure::rec, Outcome::failed, "QB4", true},
      {"a-line", kMorning + 40 * kDay, Procedure::rec, Outcome::aborted, "QB5", false},
      {"a-line", kMorning + 90 * kDay, Procedure::self_test, Outcome::passed, "QB5", false},
  };
  std::vector<records::RunRecord> records;
  int n = 0;
  for (const Run& run : runs) {
    records::RunRecord record =
        records::samples::bare_record("run-" + std::to_string(n++), run.procedure, run.outcome,
                                      run.ms, run.serial, {}, run.simulated);
    record.station_id = run.station;
    records.push_back(record);
  }
  return records;
}

// The elements of a document that carry data-figure, each as its attributes.
using Attributes = std::map<std::string, std::string>;

std::string unescaped(QString text) {
  text.replace("&quot;", "\"").replace("&#39;", "'").replace("&lt;", "<").replace("&gt;", ">");
  return text.replace("&amp;", "&").toStdString();
}

std::vector<Attributes> figures_in(const QString& dom, const std::string& figure) {
  static const QRegularExpression element(R"(<(rect|g|p)\s([^>]*data-figure="[^"]*"[^>]*)>)");
  static const QRegularExpression attribute(R"re(([\w-]+)="([^"]*)")re");
  std::vector<Attributes> found;
  for (auto tag = element.globalMatch(dom); tag.hasNext();) {
    Attributes attributes;
    for (auto pair = attribute.globalMatch(tag.next().captured(2)); pair.hasNext();) {
      const auto match = pair.next();
      attributes[match.captured(1).toStdString()] = unescaped(match.captured(2));
    }
    if (attributes["data-figure"] == figure) found.push_back(attributes);
  }
  return found;
}

Attributes counts_of(const records::YieldCounts& counts) {
  return {{"data-runs", std::to_string(counts.count)},
          {"data-finished", std::to_string(counts.finished)},
          {"data-passed", std::to_string(counts.passed)},
          {"data-first-runs", std::to_string(counts.first_runs)},
          {"data-first-passed", std::to_string(counts.first_runs_passed)}};
}

// `attributes` holds every one of `expected`.
void expect_holds(const Attributes& attributes, const Attributes& expected,
                  const std::string& where) {
  for (const auto& [name, value] : expected) {
    const auto found = attributes.find(name);
    EXPECT_TRUE(found != attributes.end() && found->second == value)
        << where << ": " << name << " should be " << value << ", is "
        << (found == attributes.end() ? std::string("absent") : found->second);
  }
}

std::string percent_of(std::size_t part, std::size_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", whole == 0 ? 0.0 : 100.0 * double(part) / double(whole));
  return QString::fromLatin1(text).replace(',', '.').toStdString();
}

int pixels_of(const QImage& image, QColor colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == colour;
  }
  return count;
}

struct ReportCase {
  const char* name;
  std::vector<std::string> arguments;  // the filters
};

class YieldReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(YieldReportTest, TheBrowserShowsTheStoresFigures) {
  const QString chromium = QStandardPaths::findExecutable("chromium");
  ASSERT_FALSE(chromium.isEmpty())
      << "chromium is not installed: scripts/station.sh installs it with the suites' packages";
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::string store_file = folder.filePath("line.sqlite").toStdString();
  {
    records::RecordStore store(store_file);
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.import_runs(line_runs()));
    // Final tests: one passed, two failed at the memory test, one ended in error at REC.
    const std::pair<records::UnitVerdict, std::optional<Procedure>> units[] = {
        {records::UnitVerdict::pass, std::nullopt},
        {records::UnitVerdict::fail, Procedure::memory_test},
        {records::UnitVerdict::fail, Procedure::memory_test},
        {records::UnitVerdict::error, Procedure::rec}};
    int n = 0;
    for (const auto& [verdict, step] : units) {
      records::UnitResult unit = records::samples::full_unit_result("unit-" + std::to_string(n));
      unit.station_id = "a-line";
      unit.started = records::samples::at(kMorning + 2 * kDay + kHour * n++);
      unit.verdict = verdict;
      unit.deciding_procedure = step;
      ASSERT_TRUE(store.complete_unit_result(unit));
    }
  }
  const QString report = folder.filePath("yield report.html");
  std::vector<std::string> arguments{"quor_station", "--yield-report", report.toStdString(),
                                     "--records", store_file};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());

  QStringList station_arguments;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    station_arguments << QString::fromStdString(arguments[i]);
  }
  QProcess station;
  station.start(QStringLiteral(QUOR_STATION_PATH), station_arguments);
  ASSERT_TRUE(station.waitForFinished(60'000));
  const std::string said = station.readAllStandardOutput().toStdString();
  ASSERT_EQ(station.exitCode(), 0) << said << station.readAllStandardError().toStdString();

  // What the store counts for the same command line.
  const station::CommandLine command = station::parse_command_line(arguments);
  ASSERT_EQ(command.action, station::CommandAction::YieldReport) << command.text;
  records::RecordStore store(store_file, records::OpenMode::reader);
  ASSERT_TRUE(store.open());
  const auto read =
      records::read_yield_figures(store, station::yield_report_filter(command.options));
  ASSERT_EQ(read.error, "");
  const records::YieldFigures& expected = read.value;
  EXPECT_NE(
      said.find("quor_station: wrote the yield report of " + std::to_string(expected.total.count)),
      std::string::npos)
      << said;

  const QString url = "file://" + report;
  QProcess browser;
  const QStringList common{"--headless", "--no-sandbox", "--disable-gpu",
                           "--user-data-dir=" + folder.filePath("browser")};
  browser.start(chromium, QStringList(common) << "--dump-dom" << url);
  ASSERT_TRUE(browser.waitForFinished(120'000));
  const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
  ASSERT_TRUE(dom.contains("</html>")) << browser.readAllStandardError().toStdString();

  // Self-contained: nothing runs and nothing is fetched.
  for (const char* outside : {"<script", " src=", " href=", "url(", "@import", "<link"}) {
    EXPECT_FALSE(dom.contains(outside, Qt::CaseInsensitive)) << outside;
  }

  const auto summary = figures_in(dom, "summary");
  ASSERT_EQ(summary.size(), 1u);
  Attributes total = counts_of(expected.total);
  total["data-hidden-simulated"] = std::to_string(expected.hidden_simulated);
  expect_holds(summary[0], total, "summary");

  const auto pass_rate = figures_in(dom, "pass-rate");
  const auto first_pass = figures_in(dom, "first-pass-yield");
  ASSERT_EQ(pass_rate.size(), expected.trend.size());
  ASSERT_EQ(first_pass.size(), expected.trend.size());
  for (std::size_t i = 0; i < expected.trend.size(); ++i) {
    const records::YieldBucket& bucket = expected.trend[i];
    Attributes counts = counts_of(bucket.counts);
    counts["data-period"] = records::utc_text(bucket.start).substr(0, 10);
    counts["data-percent"] = percent_of(bucket.counts.passed, bucket.counts.finished);
    expect_holds(pass_rate[i], counts, "pass rate " + counts["data-period"]);
    counts["data-percent"] = percent_of(bucket.counts.first_runs_passed, bucket.counts.first_runs);
    expect_holds(first_pass[i], counts, "first-pass yield " + counts["data-period"]);
  }

  const auto failures = figures_in(dom, "failures");
  const auto outcomes = figures_in(dom, "failure-outcome");
  ASSERT_EQ(failures.size(), expected.failures.size());
  std::size_t outcome_at = 0;
  for (std::size_t i = 0; i < expected.failures.size(); ++i) {
    const records::FailureCount& failure = expected.failures[i];
    expect_holds(failures[i],
                 {{"data-procedure", std::string(records::text_id(failure.procedure))},
                  {"data-count", std::to_string(failure.count)}},
                 "failures");
    for (const records::OutcomeCount& outcome : failure.outcomes) {
      ASSERT_LT(outcome_at, outcomes.size());
      expect_holds(outcomes[outcome_at++],
                   {{"data-outcome", std::string(records::text_id(outcome.outcome))},
                    {"data-count", std::to_string(outcome.count)}},
                   "failure outcome");
    }
  }
  EXPECT_EQ(outcome_at, outcomes.size());

  const auto unit_results = figures_in(dom, "unit-results");
  ASSERT_EQ(unit_results.size(), expected.unit_results == 0 ? 0u : 1u);
  if (expected.unit_results != 0) {
    expect_holds(unit_results[0],
                 {{"data-unit-results", std::to_string(expected.unit_results)},
                  {"data-passed", std::to_string(expected.unit_results_passed)}},
                 "unit results");
  }
  const auto steps = figures_in(dom, "step-failures");
  ASSERT_EQ(steps.size(), expected.step_failures.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const records::StepFailureCount& step = expected.step_failures[i];
    expect_holds(steps[i],
                 {{"data-procedure", std::string(records::text_id(step.procedure))},
                  {"data-failed", std::to_string(step.failed)},
                  {"data-errors", std::to_string(step.errors)}},
                 "step failures");
  }

  const auto stations = figures_in(dom, "station");
  ASSERT_EQ(stations.size(), expected.stations.size());
  for (std::size_t i = 0; i < expected.stations.size(); ++i) {
    Attributes counts = counts_of(expected.stations[i].counts);
    counts["data-station"] = expected.stations[i].station_id;
    expect_holds(stations[i], counts, "station " + expected.stations[i].station_id);
  }
  if (std::any_of(expected.stations.begin(), expected.stations.end(),
                  [](const auto& row) { return row.station_id == kMarkupStation; })) {
    // Shown as the text it is, in the table.
    EXPECT_TRUE(dom.contains("<td>&lt;b&gt;\"A&amp;B'&lt;/b&gt;</td>")) << dom.toStdString();
  }

  // The browser draws the charts: both bar colours are on the picture.
  const QString picture = folder.filePath("report.png");
  browser.start(chromium, QStringList(common)
                              << "--screenshot=" + picture << "--window-size=1100,2400" << url);
  ASSERT_TRUE(browser.waitForFinished(120'000));
  const QImage image(picture);
  ASSERT_FALSE(image.isNull()) << browser.readAllStandardError().toStdString();
  if (!expected.trend.empty() && expected.total.passed > 0) {
    EXPECT_GT(pixels_of(image, QColor("#2b6cb0")), 200);
  }
  if (expected.total.first_runs_passed > 0) {
    EXPECT_GT(pixels_of(image, QColor("#2f855a")), 200);
  }
  if (!expected.failures.empty()) {
    EXPECT_GT(pixels_of(image, QColor("#c53030")) + pixels_of(image, QColor("#822727")), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reports, YieldReportTest,
    ::testing::Values(
        ReportCase{"every_station_by_week", {}},
        ReportCase{"one_station_by_day_simulated_in",
                   {"--station", kMarkupStation, "--include-simulated", "--until", "2024-05-31"}},
        ReportCase{"days_from_since_to_until", {"--since", "2024-05-02", "--until", "2024-05-04"}},
        ReportCase{"nothing_selected", {"--since", "2030-01-01"}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
