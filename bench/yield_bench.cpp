// The yield figures' costs: the charts' read (records/yield_figures.h) and a change of filter over
// 100,000 runs in a station's file, the yield report over the same runs (figures read and HTML
// written), and the charts' read over 1,000,000 runs on a records server when one is named.
// Prints the figures (the median of 5 reads, wall time and this program's processor time).
//
//   yield_bench [FOLDER]
//
// The server: QUOR_BENCH_POSTGRES, a postgresql:// line whose role may create databases (the
// superuser line of scripts/test-postgres.sh's server, in its folder's "connection" file). The
// bench creates a database of its own there, fills it and drops it. Without it the server's
// figures are skipped.
#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "records/server_location.h"
#include "records/yield_figures.h"
#include "records/yield_report.h"

namespace {

using Millis = std::chrono::duration<double, std::milli>;

constexpr long long kStart = 1'700'000'000'000;  // 2023-11-14
constexpr long long kMinute = 60'000;
constexpr long long kDay = 1440 * kMinute;
constexpr int kStations = 5;
constexpr int kUnits = 4000;

struct Timing {
  double wall = 0;
  double cpu = 0;
};

// The median of 5 runs of `work`.
Timing median_of_5(const std::function<void()>& work) {
  std::vector<Timing> timings;
  for (int i = 0; i < 5; ++i) {
    const std::clock_t cpu_begin = std::clock();
    const auto begin = std::chrono::steady_clock::now();
    work();
    timings.push_back({Millis(std::chrono::steady_clock::now() - begin).count(),
                       1000.0 * double(std::clock() - cpu_begin) / CLOCKS_PER_SEC});
  }
  std::sort(timings.begin(), timings.end(),
            [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
  return timings[2];
}

void print(const char* what, const Timing& timing, const char* goal) {
  std::printf("  %-52s %8.1f ms wall %8.1f ms cpu   (goal %s)\n", what, timing.wall, timing.cpu,
              goal);
}

// Run `n` of a line: one a minute, five stations, 4,000 units, 17 procedures, mostly passing,
// one in 50 simulated.
records::RunRecord make_run(int n) {
  using namespace records;
  RunRecord r;
  r.id = "run-" + std::to_string(n);
  r.station_id = "bench-" + std::to_string(n % kStations);
  r.started = TimePoint{std::chrono::milliseconds{kStart + n * kMinute}};
  r.ended = r.started + std::chrono::seconds{40};
  r.made = r.started;
  r.procedure = all_procedures()[std::size_t(n) % all_procedures().size()];
  const int roll = (n * 7919) % 100;
  r.outcome = roll < 85   ? Outcome::passed
              : roll < 93 ? Outcome::failed
              : roll < 96 ? Outcome::stopped
              : roll < 98 ? Outcome::refused
                          : Outcome::aborted;
  r.passes_run = 50;
  r.uut = identify("QUOR INSTRUMENTS,QB-1972,QB" + std::to_string(10000 + n % kUnits) + ",2.07");
  r.uut_resource = "VXI0::8::INSTR";
  r.technician = n % 2 ? "A. Marsh" : "D. Okafor";
  r.simulated = n % 50 == 0;
  r.program_version = "1.0.0";
  return r;
}

// The filters a technician goes through: all runs, one station, the last 30 days, one procedure.
struct NamedFilter {
  const char* name;
  records::RecordFilter filter;
};

std::vector<NamedFilter> filters(long long runs) {
  const long long end = kStart + runs * kMinute;
  records::RecordFilter station;
  station.station = "bench-2";
  records::RecordFilter month;
  month.started_from = records::TimePoint{std::chrono::milliseconds{end - 30 * kDay}};
  month.started_before = records::TimePoint{std::chrono::milliseconds{end}};
  records::RecordFilter procedure;
  procedure.procedure = records::Procedure::self_test;
  procedure.include_simulated = true;
  return {{"all runs (the window opening)", {}},
          {"filter change: one station", station},
          {"filter change: the last 30 days", month},
          {"filter change: one procedure, simulated in", procedure}};
}

bool figures_of(records::RecordStore& store, const records::RecordFilter& filter,
                records::YieldFigures* into = nullptr) {
  const auto read = records::read_yield_figures(store, filter);
  if (!read.error.empty()) {
    std::fprintf(stderr, "yield_bench: %s\n", read.error.c_str());
    return false;
  }
  if (into) *into = read.value;
  return true;
}

bool bench_file(const std::string& folder) {
  const int runs = 100'000;
  const std::string path = folder + "/yield.sqlite";
  records::RecordStore store(path);
  if (!store.open()) {
    std::fprintf(stderr, "yield_bench: %s\n", store.status_text().c_str());
    return false;
  }
  std::vector<records::RunRecord> batch;
  for (int n = 0; n < runs; ++n) {
    batch.push_back(make_run(n));
    if (batch.size() == 10'000 || n + 1 == runs) {
      if (!store.import_runs(batch)) {
        std::fprintf(stderr, "yield_bench: %s\n", store.status_text().c_str());
        return false;
      }
      batch.clear();
    }
  }
  std::printf("A station's file, %d runs (%s):\n", runs, path.c_str());
  records::RecordStore reader(path, records::OpenMode::reader);
  if (!reader.open()) return false;
  bool ok = true;
  for (const NamedFilter& named : filters(runs)) {
    records::YieldFigures figures;
    figures_of(reader, named.filter, &figures);
    print(named.name, median_of_5([&] { ok = figures_of(reader, named.filter) && ok; }),
          named.filter.station.empty() && !named.filter.started_from && !named.filter.procedure
              ? "well under 300 ms"
              : "under 200 ms");
    std::printf("    %zu runs, %zu periods, %zu procedures failing, %zu stations\n",
                figures.total.count, figures.trend.size(), figures.failures.size(),
                figures.stations.size());
  }
  const std::string report = folder + "/yield.html";
  print("the yield report (figures read, HTML written)", median_of_5([&] {
          records::RecordStore own(path, records::OpenMode::reader);
          records::YieldFigures figures;
          ok = own.open() && figures_of(own, {}, &figures) && ok;
          ok =
              records::write_yield_report(
                  figures, {own.location_text(), "All runs", records::now(), "yield_bench"}, report)
                  .empty() &&
              ok;
        }),
        "1 s");
  std::printf("    %lld bytes of HTML\n",
              static_cast<long long>(QFileInfo(QString::fromStdString(report)).size()));
  return ok;
}

std::string exec(QSqlDatabase& db, const QString& statement) {
  QSqlQuery query(db);
  if (query.exec(statement)) return {};
  return query.lastError().text().toStdString();
}

// A million runs written by the server itself (a store's import sends them one by one).
bool fill_server(const std::string& line, int runs) {
  const auto server = records::parse_server_location(line).location;
  if (!server) return false;
  std::string error;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "yield_bench_fill");
    db.setHostName(QString::fromStdString(server->host));
    if (server->port) db.setPort(*server->port);
    db.setDatabaseName(QString::fromStdString(server->database));
    db.setUserName(QString::fromStdString(server->user));
    db.setPassword(QString::fromStdString(server->password));
    if (!db.open()) {
      error = db.lastError().text().toStdString();
    } else {
      QStringList procedures;
      for (const records::Procedure procedure : records::all_procedures()) {
        procedures << QStringLiteral("'%1'").arg(QString::fromLatin1(records::text_id(procedure)));
      }
      const QString statement =
          QStringLiteral(
              "INSERT INTO runs (id, station_id, started_ms, ended_ms, made_ms, procedure_id,"
              " outcome, passes_run, failures, uut_reply, uut_maker, uut_model, uut_serial,"
              " uut_firmware, qcu_reply, qcu_maker, qcu_model, qcu_serial, qcu_firmware,"
              " uut_resource, qcu_resource, technician, top_serial, sub_serial, visa_library,"
              " simulated, program_version)"
              " SELECT 'run-' || n, 'bench-' || (n %% %2), %3 + n * %4, %3 + n * %4 + 40000,"
              " %3 + n * %4, (ARRAY[%5])[1 + n %% %6],"
              " CASE WHEN (n * 7919) %% 100 < 85 THEN 'passed' WHEN (n * 7919) %% 100 < 93"
              " THEN 'failed' WHEN (n * 7919) %% 100 < 96 THEN 'stopped' WHEN (n * 7919) %% 100"
              " < 98 THEN 'refused' ELSE 'aborted' END, 50, 0, '', 'QUOR INSTRUMENTS',"
              " 'QB-1972', 'QB' || (10000 + n %% %7), '2.07', '', '', '', '', '',"
              " 'VXI0::8::INSTR', '', 'A. Marsh', '', '', '', CASE WHEN n %% 50 = 0 THEN 1"
              " ELSE 0 END, '1.0.0' FROM generate_series(0, %1 - 1) n")
              .arg(runs)
              .arg(kStations)
              .arg(kStart)
              .arg(kMinute)
              .arg(procedures.join(QLatin1Char(',')))
              .arg(procedures.size())
              .arg(kUnits)
              .replace(QStringLiteral("%%"), QStringLiteral("%"));
      error = exec(db, statement);
      if (error.empty()) error = exec(db, QStringLiteral("VACUUM ANALYZE runs"));
    }
    db.close();
  }
  QSqlDatabase::removeDatabase("yield_bench_fill");
  if (!error.empty()) std::fprintf(stderr, "yield_bench: filling the server: %s\n", error.c_str());
  return error.empty();
}

// Creates or drops the bench's database through the server line's own database.
bool admin(const std::string& line, const QString& statement) {
  const auto server = records::parse_server_location(line).location;
  if (!server) return false;
  std::string error;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "yield_bench_admin");
    db.setHostName(QString::fromStdString(server->host));
    if (server->port) db.setPort(*server->port);
    db.setDatabaseName(QString::fromStdString(server->database));
    db.setUserName(QString::fromStdString(server->user));
    db.setPassword(QString::fromStdString(server->password));
    error = db.open() ? exec(db, statement) : db.lastError().text().toStdString();
    db.close();
  }
  QSqlDatabase::removeDatabase("yield_bench_admin");
  if (!error.empty()) std::fprintf(stderr, "yield_bench: %s\n", error.c_str());
  return error.empty();
}

bool bench_server(const std::string& admin_line) {
  const int runs = 1'000'000;
  auto server = records::parse_server_location(admin_line).location;
  if (!server) {
    std::fprintf(stderr, "yield_bench: QUOR_BENCH_POSTGRES is not a server line\n");
    return false;
  }
  const std::string database =
      "yield_bench_" + QUuid::createUuid().toString(QUuid::Id128).left(12).toStdString();
  if (!admin(admin_line, QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0")
                             .arg(QString::fromStdString(database)))) {
    return false;
  }
  server->database = database;
  const std::string line = server->line();
  bool ok = false;
  {
    records::RecordStore schema(line, records::OpenMode::shared);
    ok = schema.open() && fill_server(line, runs);
  }
  if (ok) {
    std::printf("A records server, %d runs (%s):\n", runs,
                records::redacted_location(line).c_str());
    records::RecordStore reader(line, records::OpenMode::reader, std::chrono::seconds(60));
    ok = reader.open();
    for (const NamedFilter& named : filters(runs)) {
      if (!ok) break;
      records::YieldFigures figures;
      figures_of(reader, named.filter, &figures);
      print(named.name, median_of_5([&] { ok = figures_of(reader, named.filter) && ok; }),
            "500 ms");
      std::printf("    %zu runs, %zu periods\n", figures.total.count, figures.trend.size());
    }
  }
  admin(admin_line,
        QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QString::fromStdString(database)));
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  QTemporaryDir temporary;
  const std::string folder = argc > 1 ? argv[1] : temporary.path().toStdString();
  bool ok = bench_file(folder);
  if (const char* line = std::getenv("QUOR_BENCH_POSTGRES"); line != nullptr && *line != '\0') {
    ok = bench_server(line) && ok;
  } else {
    std::printf("A records server: skipped (QUOR_BENCH_POSTGRES names none).\n");
  }
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
