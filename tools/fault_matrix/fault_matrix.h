// The fault-detection matrix: every functional test and the self and memory tests, run on a
// healthy simulated bench and on the bench with each fault of the catalogue
// (sim/fault_catalogue.h), in virtual time with the real windows drawn off screen and a scripted
// technician. Each cell runs on a bench of its own, so that no fault or failure carries over.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "sim/fault_catalogue.h"

namespace fault_matrix {

struct Cell {
  bool passed = false;
  std::string detail;  // "passed", "failed 5/5 passes", "failed: Self Test Failure:1", ...
};

struct Row {
  std::string fault;  // "healthy", or the fault's label ("stamp-skew@8")
  std::vector<Cell> cells;
};

// The columns: the ten functional tests (by their button captions), then "Self Test" and
// "Memory Test".
std::vector<std::string> test_names();

// One row: every test on a bench with `fault` on it (none: the healthy bench).
Row run_row(const sim::FaultRequest* fault);
// The healthy row, then one row per fault of the catalogue at its default address.
std::vector<Row> run_matrix();

std::string markdown(const std::vector<Row>& rows);
std::string csv(const std::vector<Row>& rows);

// The tests that exist to catch a fault: a bench with it must fail at least these.
struct Catch {
  const char* fault;
  std::vector<const char*> tests;
};
std::span<const Catch> expected_catches();

}  // namespace fault_matrix
