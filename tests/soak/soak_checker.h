// The soak's checker: with every worker gone, rebuilds the table the
// workers' logs describe and compares it with the files, read from their
// byte layouts (not through the engine): records and header, memo values
// and block use, and every tag of the production index walked from its
// nodes against the FOR condition and the key order.
//
// A change a worker announced but did not log as committed (it was killed
// inside it, or the call failed) leaves its record "uncertain": either state
// is accepted for its fields, and findings that name only such records are
// counted apart as findings of unfinished changes. Every other finding is a
// fault.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qd::soak {

struct CheckOptions {
  std::string dir;                // holds SOAK.DBF, SOAK.DBT, SOAK.MDX
  std::vector<std::string> logs;  // every worker's log, the driver's first
  std::vector<std::string> killed_logs;  // logs of workers killed
  bool full_disk = false;         // write errors of a full disk expected
  // After Reindex and PackMemofile: every tag entry and shared block is a
  // fault, and the workers' own reports are not counted again.
  bool strict_index_and_memo = false;
};

struct CheckResult {
  std::vector<std::string> faults;      // findings not explained
  std::vector<std::string> unfinished;  // findings limited to unfinished changes
  std::vector<std::string> expected_errors;  // engine errors the fault explains
  std::int64_t fault_count = 0;         // all faults (the lists keep the first)
  std::int64_t unfinished_count = 0;
  std::int64_t changes_checked = 0;     // committed changes in the logs
  std::int64_t records_checked = 0;
  std::int64_t entries_checked = 0;     // tag entries compared
  std::int64_t memo_values_checked = 0;
  std::map<std::string, std::int64_t> figures;  // summed worker figures
  std::map<int, double> ops_per_second;          // per worker log index
};

CheckResult CheckSoak(const CheckOptions& options);

}  // namespace qd::soak
