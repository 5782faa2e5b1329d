#include "records/yield_report.h"

#include <QDateTime>
#include <QSaveFile>
#include <QString>
#include <QTimeZone>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace records {

namespace {

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// `value` with `decimals` decimals, "." always.
std::string fixed(double value, int decimals = 1) {
  char buffer[64];
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals).ptr;
  return std::string(buffer, end);
}

std::string count_text(std::size_t value) { return std::to_string(value); }

double percent(std::size_t part, std::size_t whole) {
  return whole == 0 ? 0.0 : 100.0 * double(part) / double(whole);
}

// "57.1%", or a dash where there is nothing to divide.
std::string percent_text(std::size_t part, std::size_t whole) {
  return whole == 0 ? std::string("&#8211;") : fixed(percent(part, whole)) + "%";
}

std::string day_text(TimePoint time) { return utc_text(time).substr(0, 10); }

std::string period_text(YieldPeriod period, const YieldBucket& bucket) {
  if (period == YieldPeriod::day) return day_text(bucket.start);
  return "week of " + day_text(bucket.start);
}

std::string counts_attributes(const YieldCounts& counts) {
  return " data-runs=\"" + count_text(counts.count) + "\" data-finished=\"" +
         count_text(counts.finished) + "\" data-passed=\"" + count_text(counts.passed) +
         "\" data-first-runs=\"" + count_text(counts.first_runs) + "\" data-first-passed=\"" +
         count_text(counts.first_runs_passed) + "\"";
}

// The colour of the runs that ended so, in the failures chart; failures in red, a run that could
// not run as it should in orange, the runs that did not test the unit in greys.
std::string_view outcome_colour(Outcome outcome) {
  if (outcome == Outcome::failed) return "#c53030";
  if (outcome == Outcome::failure_limit) return "#822727";
  if (outcome == Outcome::stopped) return "#4a5568";
  if (outcome == Outcome::aborted) return "#718096";
  if (outcome == Outcome::refused) return "#a0aec0";
  if (outcome == Outcome::interrupted) return "#2d3748";
  if (outcome == Outcome::error) return "#dd6b20";
  return "#cbd5e0";
}

std::string_view outcome_words(Outcome outcome) {
  if (outcome == Outcome::failed) return "failed";
  if (outcome == Outcome::failure_limit) return "failure limit";
  if (outcome == Outcome::stopped) return "stopped";
  if (outcome == Outcome::aborted) return "aborted";
  if (outcome == Outcome::refused) return "refused";
  if (outcome == Outcome::interrupted) return "interrupted";
  if (outcome == Outcome::error) return "error";
  return text_id(outcome);
}

constexpr std::string_view kPassColour = "#2b6cb0";
constexpr std::string_view kFirstPassColour = "#2f855a";

constexpr std::string_view kStyle = R"(
body { font-family: sans-serif; color: #1a202c; margin: 2em auto; max-width: 62em; padding: 0 1em; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 { font-size: 1.25em; margin-top: 1.6em; border-bottom: 1px solid #cbd5e0; }
table { border-collapse: collapse; margin: 0.6em 0; font-size: 0.9em; }
th, td { border: 1px solid #cbd5e0; padding: 0.2em 0.6em; text-align: right; }
th:first-child, td:first-child { text-align: left; }
thead th { background: #edf2f7; }
dl.heading { display: grid; grid-template-columns: max-content auto; gap: 0.2em 1em; }
dl.heading dt { font-weight: bold; }
dl.heading dd { margin: 0; overflow-wrap: anywhere; }
p.summary { font-size: 1.15em; }
section dl dt { font-weight: bold; margin-top: 0.5em; }
p.note { background: #fefcbf; padding: 0.4em 0.8em; border-left: 4px solid #d69e2e; }
svg { max-width: 100%; height: auto; display: block; }
svg text { font-family: sans-serif; font-size: 12px; fill: #1a202c; }
svg .grid { stroke: #e2e8f0; }
svg .axis { stroke: #4a5568; }
.key span { display: inline-block; width: 0.9em; height: 0.9em; vertical-align: middle; margin: 0 0.3em 0 1em; }
section { break-inside: avoid; }
@media print {
  body { margin: 0; max-width: none; font-size: 10pt; }
  h2 { break-after: avoid; }
  section, table, svg { break-inside: avoid; }
  p.note { border: 1px solid #d69e2e; }
  thead th, .key span { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
@page { size: A4; margin: 15mm; }
)";

constexpr int kWidth = 960;

void heading_section(std::string& html, const YieldFigures& figures,
                     const YieldReportHeading& heading) {
  html += "<h1>Yield report</h1>\n<dl class=\"heading\">";
  html += "<dt>Records</dt><dd>" + escaped(heading.records) + "</dd>";
  html += "<dt>Runs</dt><dd>" + escaped(heading.selection) + "</dd>";
  html += "<dt>Made</dt><dd>" + escaped(utc_text(heading.made)) + "</dd>";
  html += "<dt>Program</dt><dd>" + escaped(heading.program) + "</dd></dl>\n";

  const YieldCounts& total = figures.total;
  html += "<p class=\"summary\" data-figure=\"summary\"" + counts_attributes(total) +
          " data-hidden-simulated=\"" + count_text(figures.hidden_simulated) + "\">";
  html += count_text(total.passed) + " of " + count_text(total.finished) + " finished " +
          (total.finished == 1 ? "run" : "runs") + " passed (pass rate " +
          percent_text(total.passed, total.finished) + "); first-pass yield " +
          percent_text(total.first_runs_passed, total.first_runs) + " (" +
          count_text(total.first_runs_passed) + " of " + count_text(total.first_runs) +
          " first runs of a unit and a procedure passed).";
  if (total.count > total.finished) {
    html += " " + count_text(total.count - total.finished) + " more " +
            (total.count - total.finished == 1 ? "run is" : "runs are") + " still running.";
  }
  html += "</p>\n";
  if (figures.hidden_simulated > 0) {
    html += "<p class=\"note\">" + count_text(figures.hidden_simulated) + " simulated " +
            (figures.hidden_simulated == 1 ? "run is" : "runs are") +
            " left out of these figures.</p>\n";
  }
}

// Pass rate and first-pass yield per period, as pairs of bars on a 0 to 100% scale.
void trend_section(std::string& html, const YieldFigures& figures) {
  const bool days = figures.period == YieldPeriod::day;
  html += std::string("<section><h2>Trend by ") + (days ? "day" : "week") + " (UTC)</h2>\n";
  if (figures.trend.empty()) {
    html += "<p>No runs.</p></section>\n";
    return;
  }
  const int left = 48, right = 12, top = 12, bottom = 44, height = 300;
  const double plot_width = kWidth - left - right;
  const double plot_height = height - top - bottom;
  const std::size_t n = figures.trend.size();
  const double slot = plot_width / double(n);
  const double bar = std::min(slot * 0.4, 28.0);
  html += "<p class=\"key\"><span style=\"background:" + std::string(kPassColour) +
          "\"></span>Pass rate<span style=\"background:" + std::string(kFirstPassColour) +
          "\"></span>First-pass yield</p>\n";
  html += "<svg viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(height) +
          "\" width=\"" + std::to_string(kWidth) + "\" height=\"" + std::to_string(height) +
          "\" role=\"img\" aria-label=\"Pass rate and first-pass yield by period\">\n";
  for (int step = 0; step <= 4; ++step) {
    const double y = top + plot_height - plot_height * step / 4.0;
    html += "<line class=\"grid\" x1=\"" + std::to_string(left) + "\" x2=\"" +
            std::to_string(kWidth - right) + "\" y1=\"" + fixed(y) + "\" y2=\"" + fixed(y) +
            "\"/><text x=\"" + std::to_string(left - 6) + "\" y=\"" + fixed(y + 4) +
            "\" text-anchor=\"end\">" + std::to_string(step * 25) + "%</text>\n";
  }
  // At most about 16 labels under the axis.
  const std::size_t label_every = std::max<std::size_t>(1, (n + 15) / 16);
  for (std::size_t i = 0; i < n; ++i) {
    const YieldBucket& bucket = figures.trend[i];
    const YieldCounts& counts = bucket.counts;
    const double middle = left + slot * (double(i) + 0.5);
    const std::string period = day_text(bucket.start);
    const std::string title = escaped(period_text(figures.period, bucket));
    const auto bar_of = [&](const char* figure, std::size_t part, std::size_t whole,
                            std::string_view colour, double x, const char* words) {
      const double value = percent(part, whole);
      const double h = plot_height * value / 100.0;
      html += "<rect data-figure=\"" + std::string(figure) + "\" data-period=\"" + period + "\"" +
              counts_attributes(counts) + " data-percent=\"" + fixed(value) + "\" x=\"" + fixed(x) +
              "\" y=\"" + fixed(top + plot_height - h) + "\" width=\"" + fixed(bar) +
              "\" height=\"" + fixed(h) + "\" fill=\"" + std::string(colour) + "\"><title>" +
              title + ": " + words + " " + percent_text(part, whole) + " (" + count_text(part) +
              " of " + count_text(whole) + ")</title></rect>\n";
    };
    bar_of("pass-rate", counts.passed, counts.finished, kPassColour, middle - bar, "pass rate");
    bar_of("first-pass-yield", counts.first_runs_passed, counts.first_runs, kFirstPassColour,
           middle, "first-pass yield");
    if (i % label_every == 0) {
      html += "<text x=\"" + fixed(middle) + "\" y=\"" + fixed(top + plot_height + 18) +
              "\" text-anchor=\"middle\">" + period.substr(5) + "</text>\n";
    }
  }
  html += "<line class=\"axis\" x1=\"" + std::to_string(left) + "\" x2=\"" +
          std::to_string(kWidth - right) + "\" y1=\"" + fixed(top + plot_height) + "\" y2=\"" +
          fixed(top + plot_height) + "\"/>\n";
  html += "<text x=\"" + std::to_string(left) + "\" y=\"" + std::to_string(height - 4) + "\">" +
          day_text(figures.trend.front().start) + " to " +
          day_text(figures.trend.back().end - std::chrono::milliseconds(kDayMs)) +
          "</text>\n</svg>\n";

  html += "<table><thead><tr><th>" + std::string(days ? "Day" : "Week of") +
          "</th><th>Runs</th><th>Finished</th><th>Passed</th><th>Pass rate</th>"
          "<th>First runs</th><th>Passed first</th><th>First-pass yield</th></tr></thead><tbody>";
  for (const YieldBucket& bucket : figures.trend) {
    const YieldCounts& c = bucket.counts;
    html += "<tr><td>" + day_text(bucket.start) + "</td><td>" + count_text(c.count) + "</td><td>" +
            count_text(c.finished) + "</td><td>" + count_text(c.passed) + "</td><td>" +
            percent_text(c.passed, c.finished) + "</td><td>" + count_text(c.first_runs) +
            "</td><td>" + count_text(c.first_runs_passed) + "</td><td>" +
            percent_text(c.first_runs_passed, c.first_runs) + "</td></tr>";
  }
  html += "</tbody></table></section>\n";
}

// The procedures' failures, the most first, each bar made of its outcomes, with the share of all
// failures up to it.
void failures_section(std::string& html, const YieldFigures& figures) {
  html += "<section><h2>Failures by procedure</h2>\n";
  if (figures.failures.empty()) {
    html += "<p>No finished run failed.</p></section>\n";
    return;
  }
  std::size_t all = 0;
  std::size_t most = 0;
  for (const FailureCount& failure : figures.failures) {
    all += failure.count;
    most = std::max(most, failure.count);
  }
  const int label = 170, row = 28, top = 8, right = 200;
  const double length = kWidth - label - right;
  const int height = top * 2 + row * int(figures.failures.size());
  html += "<svg viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(height) +
          "\" width=\"" + std::to_string(kWidth) + "\" height=\"" + std::to_string(height) +
          "\" role=\"img\" aria-label=\"Failures by procedure\">\n";
  std::size_t cumulative = 0;
  for (std::size_t i = 0; i < figures.failures.size(); ++i) {
    const FailureCount& failure = figures.failures[i];
    cumulative += failure.count;
    const double y = top + row * double(i);
    const std::string caption = escaped(display_name(failure.procedure));
    html += "<g data-figure=\"failures\" data-procedure=\"" + escaped(text_id(failure.procedure)) +
            "\" data-count=\"" + count_text(failure.count) + "\" data-cumulative-percent=\"" +
            fixed(percent(cumulative, all)) + "\">";
    html += "<text x=\"" + std::to_string(label - 8) + "\" y=\"" + fixed(y + row / 2.0 + 4) +
            "\" text-anchor=\"end\">" + caption + "</text>";
    double x = label;
    for (const OutcomeCount& outcome : failure.outcomes) {
      const double w = length * double(outcome.count) / double(most);
      html += "<rect data-figure=\"failure-outcome\" data-outcome=\"" +
              escaped(text_id(outcome.outcome)) + "\" data-count=\"" + count_text(outcome.count) +
              "\" x=\"" + fixed(x) + "\" y=\"" + fixed(y + 4) + "\" width=\"" + fixed(w) +
              "\" height=\"" + std::to_string(row - 8) + "\" fill=\"" +
              std::string(outcome_colour(outcome.outcome)) + "\"><title>" + caption + ": " +
              count_text(outcome.count) + " " + std::string(outcome_words(outcome.outcome)) +
              "</title></rect>";
      x += w;
    }
    html += "<text x=\"" + fixed(x + 6) + "\" y=\"" + fixed(y + row / 2.0 + 4) + "\">" +
            count_text(failure.count) + " (" + fixed(percent(cumulative, all)) +
            "% of failures so far)</text></g>\n";
  }
  html += "</svg>\n<p class=\"key\">";
  std::vector<Outcome> shown;
  for (const FailureCount& failure : figures.failures) {
    for (const OutcomeCount& outcome : failure.outcomes) {
      if (std::find(shown.begin(), shown.end(), outcome.outcome) == shown.end()) {
        shown.push_back(outcome.outcome);
      }
    }
  }
  std::sort(shown.begin(), shown.end());
  for (const Outcome outcome : shown) {
    html += "<span style=\"background:" + std::string(outcome_colour(outcome)) + "\"></span>" +
            std::string(outcome_words(outcome));
  }
  html +=
      "</p>\n<table><thead><tr><th>Procedure</th><th>Not passed</th><th>Outcomes</th>"
      "<th>Cumulative share</th></tr></thead><tbody>";
  cumulative = 0;
  for (const FailureCount& failure : figures.failures) {
    cumulative += failure.count;
    std::string outcomes;
    for (const OutcomeCount& outcome : failure.outcomes) {
      if (!outcomes.empty()) outcomes += ", ";
      outcomes += count_text(outcome.count) + " " + std::string(outcome_words(outcome.outcome));
    }
    html += "<tr><td>" + escaped(display_name(failure.procedure)) + "</td><td>" +
            count_text(failure.count) + "</td><td>" + outcomes + "</td><td>" +
            fixed(percent(cumulative, all)) + "%</td></tr>";
  }
  html += "</tbody></table></section>\n";
}

// The unit results that passed, and the steps that decided the others, the most first; nothing
// when the records hold no unit result.
void unit_results_section(std::string& html, const YieldFigures& figures) {
  if (figures.unit_results == 0) return;
  html += "<section><h2>Unit results</h2>\n<p class=\"summary\" data-figure=\"unit-results\"" +
          std::string(" data-unit-results=\"") + count_text(figures.unit_results) +
          "\" data-passed=\"" + count_text(figures.unit_results_passed) + "\">" +
          count_text(figures.unit_results_passed) + " of " + count_text(figures.unit_results) +
          " unit results passed (" +
          fixed(percent(figures.unit_results_passed, figures.unit_results)) + "%).</p>\n";
  if (figures.step_failures.empty()) {
    html += "</section>\n";
    return;
  }
  std::size_t most = 0;
  for (const StepFailureCount& step : figures.step_failures) most = std::max(most, step.count());
  const int label = 170, row = 28, top = 8, right = 200;
  const double length = kWidth - label - right;
  const int height = top * 2 + row * int(figures.step_failures.size());
  html +=
      "<svg viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(height) +
      "\" width=\"" + std::to_string(kWidth) + "\" height=\"" + std::to_string(height) +
      "\" role=\"img\" aria-label=\"Unit results not passed, by the step that decided them\">\n";
  for (std::size_t i = 0; i < figures.step_failures.size(); ++i) {
    const StepFailureCount& step = figures.step_failures[i];
    const double y = top + row * double(i);
    const std::string caption = escaped(display_name(step.procedure));
    html += "<g data-figure=\"step-failures\" data-procedure=\"" +
            escaped(text_id(step.procedure)) + "\" data-failed=\"" + count_text(step.failed) +
            "\" data-errors=\"" + count_text(step.errors) + "\"><text x=\"" +
            std::to_string(label - 8) + "\" y=\"" + fixed(y + row / 2.0 + 4) +
            "\" text-anchor=\"end\">" + caption + "</text>";
    double x = label;
    for (const auto& [count, outcome] :
         {std::pair{step.failed, Outcome::failed}, std::pair{step.errors, Outcome::error}}) {
      if (count == 0) continue;
      const double w = length * double(count) / double(most);
      html += "<rect x=\"" + fixed(x) + "\" y=\"" + fixed(y + 4) + "\" width=\"" + fixed(w) +
              "\" height=\"" + std::to_string(row - 8) + "\" fill=\"" +
              std::string(outcome_colour(outcome)) + "\"><title>" + caption + ": " +
              count_text(count) + " " + std::string(outcome_words(outcome)) + "</title></rect>";
      x += w;
    }
    html += "<text x=\"" + fixed(x + 6) + "\" y=\"" + fixed(y + row / 2.0 + 4) + "\">" +
            count_text(step.failed) + " failed, " + count_text(step.errors) + " error</text></g>\n";
  }
  html +=
      "</svg>\n<p class=\"key\"><span style=\"background:" +
      std::string(outcome_colour(Outcome::failed)) +
      "\"></span>failed<span style=\"background:" + std::string(outcome_colour(Outcome::error)) +
      "\"></span>error</p>\n</section>\n";
}

// Each station's pass rate and first-pass yield side by side.
void stations_section(std::string& html, const YieldFigures& figures) {
  html += "<section><h2>Stations</h2>\n";
  if (figures.stations.empty()) {
    html += "<p>No runs.</p></section>\n";
    return;
  }
  const int label = 170, row = 44, top = 8, right = 150;
  const double length = kWidth - label - right;
  const int height = top * 2 + row * int(figures.stations.size());
  html += "<p class=\"key\"><span style=\"background:" + std::string(kPassColour) +
          "\"></span>Pass rate<span style=\"background:" + std::string(kFirstPassColour) +
          "\"></span>First-pass yield</p>\n";
  html += "<svg viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(height) +
          "\" width=\"" + std::to_string(kWidth) + "\" height=\"" + std::to_string(height) +
          "\" role=\"img\" aria-label=\"Yield by station\">\n";
  for (std::size_t i = 0; i < figures.stations.size(); ++i) {
    const StationYield& station = figures.stations[i];
    const YieldCounts& c = station.counts;
    const double y = top + row * double(i);
    const std::string name = escaped(station.station_id);
    html += "<g data-figure=\"station\" data-station=\"" + name + "\"" + counts_attributes(c) +
            "><title>" + name + "</title>";
    // Ids of any length: the chart shows the first characters, the table all of them.
    std::string shown = station.station_id;
    if (shown.size() > 22) {
      std::size_t cut = 21;
      while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xc0) == 0x80) --cut;
      shown = shown.substr(0, cut) + "\xe2\x80\xa6";
    }
    html += "<text x=\"" + std::to_string(label - 8) + "\" y=\"" + fixed(y + row / 2.0 + 4) +
            "\" text-anchor=\"end\">" + escaped(shown) + "</text>";
    const std::pair<std::size_t, std::size_t> parts[] = {{c.passed, c.finished},
                                                         {c.first_runs_passed, c.first_runs}};
    for (int k = 0; k < 2; ++k) {
      const double value = percent(parts[k].first, parts[k].second);
      const double by = y + 4 + k * (row - 8) / 2.0;
      html += "<rect x=\"" + std::to_string(label) + "\" y=\"" + fixed(by) + "\" width=\"" +
              fixed(length * value / 100.0) + "\" height=\"" + fixed((row - 8) / 2.0 - 2) +
              "\" fill=\"" + std::string(k == 0 ? kPassColour : kFirstPassColour) + "\"/>";
      html += "<text x=\"" + fixed(label + length * value / 100.0 + 6) + "\" y=\"" +
              fixed(by + (row - 8) / 4.0 + 3) + "\">" +
              percent_text(parts[k].first, parts[k].second) + " (" + count_text(parts[k].first) +
              " of " + count_text(parts[k].second) + ")</text>";
    }
    html += "</g>\n";
  }
  html +=
      "</svg>\n<table><thead><tr><th>Station</th><th>Runs</th><th>Finished</th>"
      "<th>Passed</th><th>Pass rate</th><th>First runs</th><th>Passed first</th>"
      "<th>First-pass yield</th></tr></thead><tbody>";
  for (const StationYield& station : figures.stations) {
    const YieldCounts& c = station.counts;
    html += "<tr><td>" + escaped(station.station_id) + "</td><td>" + count_text(c.count) +
            "</td><td>" + count_text(c.finished) + "</td><td>" + count_text(c.passed) +
            "</td><td>" + percent_text(c.passed, c.finished) + "</td><td>" +
            count_text(c.first_runs) + "</td><td>" + count_text(c.first_runs_passed) + "</td><td>" +
            percent_text(c.first_runs_passed, c.first_runs) + "</td></tr>";
  }
  html += "</tbody></table></section>\n";
}

constexpr std::string_view kDefinitions = R"(<section><h2>What the figures mean</h2><dl>
<dt>Finished, passed</dt><dd>A run is finished unless it is still running. It passed when its
outcome is pass; every other finished outcome (fail, error, stopped, failure limit, aborted,
refused, interrupted) counts as not passed.</dd>
<dt>Pass rate</dt><dd>The passed runs among the finished runs.</dd>
<dt>First-pass yield</dt><dd>A unit is known by the serial number in its identity reply (a
simulated unit apart from a real one). For each unit and procedure, its first run is its earliest
finished run in the records, whether or not the report covers it; the first-pass yield is the share
of the first runs reported that passed. A unit that failed and passed on a retest counts as not
passing first time, also when the report covers the retest alone. Runs without a serial number are
left out of it. A first run counts in the day or week, and at the station, where it ran.</dd>
<dt>Trend</dt><dd>Runs by the UTC day they started, or by week (Monday to Sunday, UTC) when the
runs reported span more than 62 days. Days or weeks without runs are left out.</dd>
<dt>Failures by procedure</dt><dd>The finished runs that did not pass, per procedure and outcome,
the procedure with the most first, and the share of all such runs up to each procedure.</dd>
<dt>Unit results</dt><dd>A unit's final test: the procedures of a sequence run on one unit, with
one verdict. The steps that decided the units that failed or ended in error are counted per step,
the step with the most first. The report's dates, station, serial and simulated choice select the
unit results; its procedure and outcome select runs only.</dd>
<dt>Simulated runs</dt><dd>Runs on the built-in simulated chassis are left out unless the report
was asked to include them; the note above says how many were left out.</dd>
</dl></section>
)";

}  // namespace

namespace {

// A time of the selection on `clock`: its date at the clock's midnight, else its date and minute;
// `end` names the last day before a midnight.
std::string selection_time(TimePoint time, DayClock clock, bool end) {
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(
      time.time_since_epoch().count(),
      clock == DayClock::utc ? QTimeZone::utc() : QTimeZone::systemTimeZone());
  if (at.time() != QTime(0, 0)) {
    return (end ? "before " : "") + at.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
  }
  return (end ? "to " : "") +
         (end ? at.addDays(-1) : at).date().toString(Qt::ISODate).toStdString();
}

}  // namespace

std::string selection_text(const RecordFilter& filter, DayClock clock) {
  std::string text = "All runs";
  if (filter.started_from || filter.started_before) {
    text = "Runs started";
    if (filter.started_from) {
      text += " from " + selection_time(*filter.started_from, clock, false);
      if (!filter.started_before) text += " on";
    }
    if (filter.started_before) text += " " + selection_time(*filter.started_before, clock, true);
    text += clock == DayClock::utc ? " (UTC)" : " (local time)";
  }
  if (!filter.station.empty()) text += " at station " + filter.station;
  if (filter.procedure) text += " of " + std::string(display_name(*filter.procedure));
  if (filter.outcome) text += " that ended " + std::string(outcome_words(*filter.outcome));
  if (!filter.serial.empty()) text += " of units whose serial holds \"" + filter.serial + "\"";
  if (!filter.text.empty()) {
    text += " whose serial or technician holds \"" + filter.text + "\"";
  }
  if (filter.in_unit_result) {
    text += *filter.in_unit_result ? " that are steps of unit results" : " outside unit results";
  }
  if (!filter.unit_result.empty()) text += " of unit result " + filter.unit_result;
  text += filter.include_simulated ? "; simulated runs included." : "; simulated runs left out.";
  return text;
}

std::string yield_report_html(const YieldFigures& figures, const YieldReportHeading& heading) {
  std::string html;
  html.reserve(32 * 1024);
  html +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Yield report</title>\n<style>";
  html += kStyle;
  html += "</style>\n</head>\n<body>\n";
  heading_section(html, figures, heading);
  trend_section(html, figures);
  failures_section(html, figures);
  unit_results_section(html, figures);
  stations_section(html, figures);
  html += kDefinitions;
  html += "</body>\n</html>\n";
  return html;
}

std::string write_yield_report(const YieldFigures& figures, const YieldReportHeading& heading,
                               const std::string& file) {
  const std::string html = yield_report_html(figures, heading);
  QSaveFile out(QString::fromStdString(file));
  if (!out.open(QIODevice::WriteOnly)) return out.errorString().toStdString();
  if (out.write(html.data(), qint64(html.size())) != qint64(html.size())) {
    const std::string error = out.errorString().toStdString();
    out.cancelWriting();
    return error;
  }
  if (!out.commit()) return out.errorString().toStdString();
  return {};
}

}  // namespace records
