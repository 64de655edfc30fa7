#include "soak_checker.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "indexes/index_model.h"
#include "memo/memo_checker.h"
#include "soak_common.h"

namespace qd::soak {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Offsets of the DBF header and of the soak record (see soak_common.h).
constexpr std::size_t kRecordCountAt = 4;
constexpr std::size_t kHeaderLengthAt = 8;
constexpr std::size_t kRecordLengthAt = 10;
constexpr std::size_t kCodeAt = 1;
constexpr std::size_t kNotesAt = 11;
constexpr std::size_t kAmountAt = 21;
constexpr std::size_t kDayAt = 29;
constexpr std::size_t kRecordLength = 37;

std::uint32_t Le(const Bytes& b, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
  return v;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// A record's state as the logs describe it.
struct State {
  bool exists = false;
  std::string code;
  int amount = 0;
  std::string day;
  std::string memo = "-";
  bool deleted = false;
  bool operator==(const State&) const = default;
};

struct Event {
  std::int64_t stamp = 0;
  char kind = 0;  // A, R, D, U
  std::string code;
  int amount = 0;
  std::string day;
  std::string memo;
};

State Apply(State s, const Event& e) {
  switch (e.kind) {
    case 'A':
      s = State{};
      s.exists = true;
      [[fallthrough]];
    case 'R':
      s.code = e.code;
      s.amount = e.amount;
      s.day = e.day;
      if (e.memo != "=") s.memo = e.memo;
      break;
    case 'D': s.deleted = true; break;
    case 'U': s.deleted = false; break;
  }
  return s;
}

std::string Describe(const State& s) {
  if (!s.exists) return "(no record)";
  return (s.deleted ? "*" : " ") + s.code + " " + std::to_string(s.amount) + " " + s.day + " memo " + s.memo;
}

struct RecordHistory {
  std::vector<Event> certain;
  std::vector<Event> uncertain;
};

// The day number of a stored date YYYYMMDD (Julian day).
double DayNumber(const std::string& day) {
  const int y = std::atoi(day.substr(0, 4).c_str());
  const int m = std::atoi(day.substr(4, 2).c_str());
  const int d = std::atoi(day.substr(6, 2).c_str());
  const int a = (14 - m) / 12;
  const int yy = y + 4800 - a;
  const int mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

// Disk full: the system's code, the runtime's write error, the engine's
// "not enough free disk space".
bool IsDiskFullCode(int code) { return code == 112 || code == 39 || code == 101 || code == 1012; }

class Checker {
 public:
  explicit Checker(const CheckOptions& o) : o_(o) {}

  CheckResult Run() {
    for (std::size_t i = 0; i < o_.logs.size(); ++i) ReadLog(i);
    for (const auto& [what, record] : seen_) {
      if (record != 0 && uncertain_records_.count(record)) {
        if (!o_.strict_index_and_memo) Unfinished(what);
      } else {
        Fault(what, true);
      }
    }
    ReadTable();
    CheckRecords();
    CheckMemo();
    CheckTags();
    if (platform_semaphore_exists()) Fault("the semaphore file SOAK.@S@ is still there");
    return r_;
  }

 private:
  bool platform_semaphore_exists() const { return std::ifstream(o_.dir + "/SOAK.@S@").good(); }

  // Findings are all counted; the workers' own reports (log lines) are
  // kept to the first 30, so that the files' findings are always shown.
  // The number after the first "record " in a text; 0 when there is none.
  static std::uint32_t RecordNamed(const std::string& text) {
    const std::size_t at = text.find("record ");
    return at == std::string::npos ? 0 : static_cast<std::uint32_t>(std::atoll(text.c_str() + at + 7));
  }

  void Fault(const std::string& what, bool from_log = false) {
    if (from_log && o_.strict_index_and_memo) return;  // counted by the first check
    ++r_.fault_count;
    if (from_log ? ++logged_faults_ <= 30 : r_.faults.size() < 200) r_.faults.push_back(what);
  }
  void Unfinished(const std::string& what) {
    ++r_.unfinished_count;
    if (r_.unfinished.size() < 200) r_.unfinished.push_back(what);
  }
  // A finding about record `record`: a fault unless the record is uncertain.
  void About(std::uint32_t record, const std::string& what, bool attributable = true) {
    if (attributable && uncertain_records_.count(record)) Unfinished(what); else Fault(what);
  }

  void ReadLog(std::size_t index) {
    const std::string& path = o_.logs[index];
    const bool killed = std::find(o_.killed_logs.begin(), o_.killed_logs.end(), path) != o_.killed_logs.end();
    std::ifstream in(path);
    std::string line;
    // Announcements waiting for their commit, by record (0: a failed append batch).
    std::map<std::uint32_t, Event> open;
    auto settle = [&](bool explained) {
      for (const auto& [record, e] : open) {
        if (!explained) Fault(path + ": change of record " + std::to_string(record) + " announced, neither committed nor failed");
        history_[record].uncertain.push_back(e);
        uncertain_records_.insert(record);
      }
      open.clear();
    };
    while (std::getline(in, line)) {
      std::istringstream s(line);
      char kind = 0;
      s >> kind;
      if (kind == 'S') {
        std::string item;
        double operations = 0, ms = 0;
        while (s >> item) {
          const auto eq = item.find('=');
          if (eq == std::string::npos) continue;
          const std::string key = item.substr(0, eq);
          const std::int64_t value = std::atoll(item.c_str() + eq + 1);
          if (key == "ms") ms = static_cast<double>(value);
          else r_.figures[key] += value;
          if (key == "operations") operations = static_cast<double>(value);
        }
        if (ms > 0) r_.ops_per_second[static_cast<int>(index)] = operations * 1000.0 / ms;
        continue;
      }
      if (kind == 'E') {
        std::int64_t stamp = 0;
        int code = 0;
        s >> stamp >> code;
        std::string rest;
        std::getline(s, rest);
        const bool expected = (!o_.killed_logs.empty() && code == 1202) || (o_.full_disk && IsDiskFullCode(code));
        const std::string what = path + ": error " + std::to_string(code) + rest;
        if (expected) {
          if (r_.expected_errors.size() < 50) r_.expected_errors.push_back(what);
          ++r_.figures["expected_errors"];
        } else {
          Fault(what, true);
        }
        continue;
      }
      if (kind == 'X') {
        // Judged once every log is read: a value seen in a record of an
        // unfinished change is that change's finding.
        seen_.push_back({path + ": the worker saw: " + line.substr(2), RecordNamed(line)});
        continue;
      }
      std::uint32_t record = 0;
      Event e;
      s >> record >> e.stamp;
      if (kind == 'F') {
        settle(true);
        continue;
      }
      if (kind == 'J') {
        std::string what;
        s >> what;
        e.kind = what.empty() ? 'D' : what[0];
        open[record] = e;
        continue;
      }
      if (kind == 'D' || kind == 'U') {
        e.kind = kind;
        open.erase(record);
        history_[record].certain.push_back(e);
        ++r_.changes_checked;
        continue;
      }
      s >> e.code >> e.amount >> e.day >> e.memo;
      if (kind == 'P' || kind == 'I') {
        e.kind = kind == 'P' ? 'A' : 'R';
        open[record] = e;
      } else if (kind == 'A' || kind == 'R') {
        e.kind = kind;
        open.erase(record);
        history_[record].certain.push_back(e);
        ++r_.changes_checked;
      }
    }
    if (!open.empty()) settle(killed);
  }

  void ReadTable() {
    dbf_ = ReadFile(o_.dir + "/SOAK.DBF");
    if (dbf_.size() < 32) {
      Fault("table file unreadable (" + std::to_string(dbf_.size()) + " bytes)");
      return;
    }
    if (dbf_[0] != 0x8B) Fault("table version byte " + std::to_string(dbf_[0]));
    header_length_ = Le(dbf_, kHeaderLengthAt, 2);
    const std::size_t record_length = Le(dbf_, kRecordLengthAt, 2);
    if (record_length != kRecordLength) Fault("record length " + std::to_string(record_length));
    if (dbf_.size() < header_length_) {
      Fault("table shorter than its header");
      return;
    }
    const std::size_t body = dbf_.size() - header_length_;
    records_ = body / kRecordLength;
    const std::size_t rest = body % kRecordLength;
    if (rest > 1 || (rest == 1 && dbf_.back() != 0x1A)) Fault("table ends in a partial record (" + std::to_string(rest) + " bytes)");
    if (rest == 0) Fault("table has no end-of-file byte");
    const std::uint32_t header_count = Le(dbf_, kRecordCountAt, 4);
    if (header_count != records_) {
      Fault("header record count " + std::to_string(header_count) + ", the file holds " + std::to_string(records_));
    }
  }

  State Actual(std::size_t record) const {
    const std::size_t at = header_length_ + (record - 1) * kRecordLength;
    auto text = [&](std::size_t offset, std::size_t n) {
      return std::string(reinterpret_cast<const char*>(dbf_.data() + at + offset), n);
    };
    State s;
    s.exists = true;
    s.deleted = dbf_[at] == '*';
    s.code = Trim(text(kCodeAt, 10));
    s.amount = std::atoi(Trim(text(kAmountAt, 8)).c_str());
    s.day = text(kDayAt, 8);
    return s;
  }

  // Every state the record may be in: its changes applied in stamp order,
  // each uncertain one either applied or not.
  std::vector<State> Candidates(std::uint32_t record) const {
    std::vector<State> states = {State{}};
    const auto it = history_.find(record);
    if (it == history_.end()) return states;
    std::vector<std::pair<Event, bool>> events;
    for (const Event& e : it->second.certain) events.emplace_back(e, true);
    for (const Event& e : it->second.uncertain) events.emplace_back(e, false);
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.first.stamp < b.first.stamp; });
    for (const auto& [e, certain] : events) {
      std::vector<State> next;
      auto add = [&](const State& s) {
        if (std::find(next.begin(), next.end(), s) == next.end()) next.push_back(s);
      };
      for (const State& s : states) {
        add(Apply(s, e));
        if (!certain) add(s);
      }
      states = std::move(next);
    }
    return states;
  }

  void CheckRecords() {
    std::uint32_t highest = 0;
    for (const auto& [record, h] : history_) highest = std::max(highest, record);
    const std::uint32_t last = std::max<std::uint32_t>(highest, static_cast<std::uint32_t>(records_));
    memo_keys_.assign(records_ + 1, {});
    for (std::uint32_t record = 1; record <= last; ++record) {
      const std::vector<State> candidates = Candidates(record);
      const bool present = record <= records_;
      State actual;
      if (present) actual = Actual(record);
      bool matched = false;
      for (const State& c : candidates) {
        State fields = c;
        fields.memo = "-";
        State seen = actual;
        seen.memo = "-";
        if (fields == seen) {
          matched = true;
          if (present) memo_keys_[record].insert(c.memo);
        }
      }
      ++r_.records_checked;
      if (!matched) {
        std::string what = "record " + std::to_string(record) + " is " + Describe(actual) + ", the logs say " +
                           Describe(candidates.front());
        if (candidates.size() > 1) what += " (or " + std::to_string(candidates.size() - 1) + " more)";
        About(record, what);
        if (present) for (const State& c : candidates) memo_keys_[record].insert(c.memo);
      }
    }
  }

  void CheckMemo() {
    if (dbf_.size() < 32) return;
    const Bytes memo = ReadFile(o_.dir + "/SOAK.DBT");
    if (memo.size() < 512) {
      Fault("memo file unreadable (" + std::to_string(memo.size()) + " bytes)");
      return;
    }
    // The memo checker reads the record count from the header: give it the
    // count the file holds.
    Bytes table = dbf_;
    for (int i = 0; i < 4; ++i) table[kRecordCountAt + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(records_ >> (8 * i));
    memo_test::MemoFileChecker checker(table, memo, {0x8B, 512, true});
    checker.CheckValues(
        [&](std::size_t r, const std::string& value) {
          ++r_.memo_values_checked;
          for (const std::string& key : memo_keys_[r + 1]) {
            if (MemoValue(key) == value) return true;
          }
          return false;
        },
        records_);
    checker.CheckHeader();
    for (const std::string& failure : checker.Failures()) {
      std::uint32_t record = 0;
      const std::size_t used = failure.find("used by ");
      if (used != std::string::npos) {
        // "block B used by A and C" (C is -1 for the free list): a record of
        // an unfinished change may name blocks its change gave up, which
        // another value then took. That other value is checked on its own
        // (a wrong value is its own finding), so the sharing is the
        // unfinished change's finding when one owner is such a record.
        const auto a = static_cast<std::uint32_t>(std::atoll(failure.c_str() + used + 8));
        const std::size_t and_at = failure.find(" and ", used);
        const long long c = and_at == std::string::npos ? 0 : std::atoll(failure.c_str() + and_at + 5);
        if (uncertain_records_.count(a)) record = a;
        else if (c > 0 && uncertain_records_.count(static_cast<std::uint32_t>(c))) record = static_cast<std::uint32_t>(c);
      } else {
        record = RecordNamed(failure);
      }
      // After the pack a value of an unfinished change may hold anything,
      // but no block may be used twice.
      const std::string what = "memo: " + failure;
      const bool sharing = failure.find("used by") != std::string::npos;
      if (record != 0 && !(sharing && o_.strict_index_and_memo)) About(record, what); else Fault(what);
    }
  }

  void CheckTags() {
    const Bytes mdx = ReadFile(o_.dir + "/SOAK.MDX");
    if (mdx.size() < 2048) {
      Fault("index file unreadable");
      return;
    }
    for (int tag = 1; tag <= 3; ++tag) {
      const index_model::TagLayout layout = index_model::ReadLayout(mdx, tag);
      const index_model::Walked walked = index_model::WalkTag(mdx, tag);
      const std::string name = "tag " + std::to_string(tag) + ": ";
      if (!walked.problem.empty()) {
        Fault(name + walked.problem);
        continue;
      }
      using Entry = std::pair<std::uint32_t, index_model::KeyValue>;
      auto less = [](const Entry& a, const Entry& b) {
        if (a.first != b.first) return a.first < b.first;
        if (a.second.text != b.second.text) return a.second.text < b.second.text;
        return a.second.number < b.second.number;
      };
      std::vector<Entry> expected;
      for (std::size_t record = 1; record <= records_; ++record) {
        const State s = Actual(record);
        index_model::KeyValue key;
        if (tag == 1) {
          const std::size_t at = header_length_ + (record - 1) * kRecordLength + kCodeAt;
          key.text.assign(reinterpret_cast<const char*>(dbf_.data() + at), kCodeLength);
        } else if (tag == 2) {
          if (s.amount < kForAmount) continue;
          key.number = s.amount;
        } else {
          key.number = DayNumber(s.day);
        }
        expected.emplace_back(static_cast<std::uint32_t>(record), key);
      }
      std::vector<Entry> found;
      for (const auto& e : walked.entries) found.emplace_back(e.record, e.key);
      r_.entries_checked += static_cast<std::int64_t>(found.size());
      (void)layout;
      std::sort(expected.begin(), expected.end(), less);
      std::sort(found.begin(), found.end(), less);
      std::vector<Entry> missing, extra;
      std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(), std::back_inserter(missing), less);
      std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(), std::back_inserter(extra), less);
      auto key_text = [](const index_model::KeyValue& k) { return k.text.empty() ? std::to_string(k.number) : "'" + k.text + "'"; };
      for (const Entry& e : missing) {
        About(e.first, name + "record " + std::to_string(e.first) + " key " + key_text(e.second) + " missing",
              !o_.strict_index_and_memo);
      }
      for (const Entry& e : extra) {
        About(e.first, name + "entry for record " + std::to_string(e.first) + " key " + key_text(e.second) + " not in the table",
              !o_.strict_index_and_memo);
      }
    }
  }

  const CheckOptions& o_;
  CheckResult r_;
  std::map<std::uint32_t, RecordHistory> history_;
  std::set<std::uint32_t> uncertain_records_;
  Bytes dbf_;
  std::size_t header_length_ = 0;
  std::size_t records_ = 0;
  std::vector<std::set<std::string>> memo_keys_;
  int logged_faults_ = 0;
  std::vector<std::pair<std::string, std::uint32_t>> seen_;  // X lines and the record they name
};

}  // namespace

CheckResult CheckSoak(const CheckOptions& options) { return Checker(options).Run(); }

}  // namespace qd::soak
