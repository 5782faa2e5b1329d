// One station's share of the line-of-stations suite, as a program of its own: it finishes RUNS
// runs, each written to its own record file and forwarded to the shared store while it goes on,
// waits until every one has been forwarded, and prints their ids, one a line, in the order they
// finished. Exit status 0 when every run was forwarded, 1 otherwise.
//
//   records_station_load RECORD-FILE SHARED-STORE STATION-ID RUNS
#include <chrono>
#include <cstdio>
#include <string>

#include "record_samples.h"
#include "records/record_forwarder.h"
#include "records/record_writer.h"

int main(int argc, char* argv[]) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s RECORD-FILE SHARED-STORE STATION-ID RUNS\n", argv[0]);
    return 2;
  }
  records::RecordWriter::Options writing;
  writing.path = argv[1];
  writing.forward = true;
  records::RecordWriter writer(std::move(writing));
  if (!writer.open()) {
    std::fprintf(stderr, "%s\n", writer.state().status_text.c_str());
    return 1;
  }
  records::RecordForwarder::Options forwarding;
  forwarding.station_store = argv[1];
  forwarding.shared_store = argv[2];
  forwarding.retry_interval = std::chrono::milliseconds{100};
  records::RecordForwarder forwarder(std::move(forwarding));

  const int runs = std::stoi(argv[4]);
  for (int n = 0; n < runs; ++n) {
    records::RunRecord run = records::samples::full_record(records::new_run_id());
    run.station_id = argv[3];
    run.started = records::samples::at(records::samples::kMorning + n * 1000LL);
    run.ended = run.started + std::chrono::milliseconds{500};
    writer.begin_run(run);
    writer.complete_run(run);
    std::printf("%s\n", run.id.c_str());
    if (n % 20 == 0) forwarder.nudge();
  }
  writer.flush();
  if (!forwarder.wait_until_forwarded(std::chrono::minutes{2})) {
    std::fprintf(stderr, "not forwarded: %s\n", forwarder.state().reason.c_str());
    return 1;
  }
  return 0;
}
