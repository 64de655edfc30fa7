// The soak driver: several real processes share one table with a memo
// field and a production index of three tags, under load and under faults,
// and a checker then verifies what they left against their logs.
//
//   qd_soak [--dir D] [--workers N] [--seconds S] [--kills K]
//           [--contention] [--full-disk KB] [--seed X]
//
//   --kills K       kills K workers (SIGKILL) at random moments; after each
//                   the others go on for two seconds, then every program is
//                   logged off, the semaphore file the killed one left is
//                   deleted (the documented cure) and a fresh set of workers
//                   carries on. The check then runs, then Reindex and
//                   PackMemofile, then the check again with no allowance.
//   --damage        after the run, checks three damaged copies of the files
//                   (a record field, a memo block named twice, a tag entry
//                   pointing elsewhere); passes when the checker finds each.
//   --contention    no appends; every worker edits the first 3 records, so
//                   record locks fail often.
//   --full-disk KB  the table lives on a tmpfs of that size (needs the
//                   privilege to mount; exit status 77 = skipped otherwise).
//
// Exit status: 0 when the checker found no fault, 1 otherwise, 77 skipped.
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/exception.h"
#include "indexes/index_build.h"
#include "indexes/indexes.h"
#include "memo/memo_file.h"
#include "memo/memo_pack.h"
#include "memo/memo_unit.h"
#include "soak_checker.h"
#include "soak_common.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace fs = std::filesystem;

namespace qd::soak {
namespace {

struct Options {
  std::string dir = "soak-run";
  int workers = 4;
  int seconds = 20;
  int kills = 0;
  bool contention = false;
  int full_disk_kb = 0;
  bool damage = false;
  std::uint64_t seed = 1;
  std::string worker_program;
};

struct Worker {
  pid_t pid = 0;
  std::string log;
};

void Check(const char* step) {
  if (ErrorCode != 0) throw std::runtime_error(std::string(step) + ": " + std::to_string(ErrorCode) + " " + ErrorText);
}

std::string DataDir(const Options& o) { return o.dir + "/data"; }

// Creates the table, its memo file and production index, with a few
// records to start from (logged as the driver's own appends).
void CreateTable(const Options& o, const std::string& log) {
  const std::string table = DataDir(o) + "/" + kTableName;
  WorkArea area;
  if (!CreateDBF(area, table + ".DBF", 4,
                 {{"CODE", 'C', 10, 0}, {"NOTES", 'M', 10, 0}, {"AMOUNT", 'N', 8, 0}, {"DAY", 'D', 8, 0}},
                 TableFamily::Dbase4))
    Check("create table");
  if (!CreateMemofile(table + ".DBT", 0x8B, 512, "soak")) Check("create memo file");
  Select(1);
  Use(table + " EXCLUSIVE", nullptr, 0);
  Check("use");
  if (!MakeIndex({{"CODES", "CODE", ""}, {"AMOUNTS", "AMOUNT", "AMOUNT >= " + std::to_string(kForAmount)}, {"DAYS", "DAY", ""}}))
    Check("make index");
  SetProductionFlag(true);
  if (!SetIndexTo("")) Check("set index");
  std::ofstream out(log);
  const int count = o.contention ? 10 : 20;
  for (int i = 1; i <= count; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "K%03d", (i * 37) % kCodePool);
    const std::string key = "w0s" + std::to_string(i);
    std::int32_t block = 0;
    if (!WriteMemoValue(0, MemoValue(key), block, "soak")) Check("memo");
    ClearRecord();
    std::uint8_t* p = FieldAddress(kCodeField);
    p[0] = static_cast<std::uint8_t>(std::strlen(code));
    std::memcpy(p + 1, code, p[0]);
    std::memcpy(FieldAddress(kNotesField), &block, 4);
    const std::int32_t amount = i * 150;
    std::memcpy(FieldAddress(kAmountField), &amount, 4);
    const std::string shown = JulianToDate(JulianDate(2020, 1 + i % 12, 1 + i));
    p = FieldAddress(kDayField);
    p[0] = static_cast<std::uint8_t>(shown.size());
    std::memcpy(p + 1, shown.data(), shown.size());
    Append();
    Check("append");
    char day[12];
    std::snprintf(day, sizeof day, "2020%02d%02d", 1 + i % 12, 1 + i);
    out << "A " << RecNo() << " " << Stamp() << " " << code << " " << amount << " " << day << " " << key << "\n";
  }
  Close();
  Check("close");
}

// Workers write memo values over the values they replace in every run, the
// full disk included: a replace that fails after its new value was written
// leaves the old value's blocks in use.
std::string WorkerMode(const Options& o) { return o.contention ? "contention" : "mix"; }

pid_t Start(const Options& o, int id, std::uint64_t seed, int seconds, const std::string& log) {
  const std::vector<std::string> args = {o.worker_program, DataDir(o), log, std::to_string(id), std::to_string(seed),
                                         std::to_string(seconds), WorkerMode(o)};
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

std::string SemaphorePath(const Options& o) { return DataDir(o) + "/" + kTableName + ".@S@"; }

std::string SemaphoreRecord(const Options& o) {
  std::ifstream in(SemaphorePath(o), std::ios::binary);
  unsigned char b[4] = {};
  if (!in.read(reinterpret_cast<char*>(b), 4)) return "absent";
  return "users " + std::to_string(b[0]) + ", readers " + std::to_string(b[1]) + ", counter " +
         std::to_string(b[2] | (b[3] << 8));
}

void Print(const std::string& title, const CheckResult& r) {
  std::cout << title << ": " << r.changes_checked << " committed changes, " << r.records_checked << " records, "
            << r.memo_values_checked << " memo values, " << r.entries_checked << " tag entries checked; "
            << r.fault_count << " faults, " << r.unfinished_count << " findings of unfinished changes, "
            << (r.figures.count("expected_errors") ? r.figures.at("expected_errors") : 0) << " expected errors\n";
  for (const auto& f : r.faults) std::cout << "  FAULT " << f << "\n";
  for (const auto& f : r.unfinished) std::cout << "  unfinished " << f << "\n";
  for (const auto& f : r.expected_errors) std::cout << "  expected " << f << "\n";
}

// Opens the table exclusively and runs the cure after a kill: Reindex and
// PackMemofile.
void Cure(const std::string& dir) {
  Select(1);
  Use(dir + "/" + kTableName + " EXCLUSIVE", nullptr, 0);
  Check("use");
  if (!SetIndexTo("")) Check("set index");
  Reindex();
  Check("reindex");
  // The pack empties fields that name no whole value, finishes, and then
  // reports the first of them.
  std::string damage;
  try {
    PackMemofile();
    damage = ErrorText;
  } catch (const EQuindleError& e) {
    damage = e.what();
  }
  if (ErrorCode == 1003 || ErrorCode == 30) {
    std::cout << "PackMemofile emptied damaged fields: " << ErrorCode << " " << damage << "\n";
    ErrorCode = 0;
  } else {
    Check("pack memo file");
  }
  Close();
  Check("close");
}

// Opens the copy as a program would and steps through every order.
std::string ReadThrough(const std::string& dir) {
  try {
    Select(1);
    ErrorCode = 0;
    Use(dir + "/" + kTableName + " EXCLUSIVE", nullptr, 0);
    Check("use");
    if (!SetIndexTo("")) Check("set index");
    std::string counts;
    for (int order = 0; order <= 3; ++order) {
      Set_Order_To(order);
      int n = 0;
      for (GoTop(); !dEOF() && n < 10000000; Skip(1)) ++n;
      Check("walk");
      counts += " " + std::to_string(n);
    }
    Close();
    return "read through, records per order:" + counts;
  } catch (const std::exception& e) {
    try { Close(); } catch (const std::exception&) {}
    return std::string("FAULT reading the files: ") + e.what();
  }
}

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The checker must find each of three kinds of damage made to copies of
// the files a clean run left.
int CheckDamagedCopies(const Options& o, const std::vector<std::string>& logs) {
  CheckOptions options;
  options.dir = DataDir(o);
  options.logs = logs;
  const std::int64_t clean = CheckSoak(options).fault_count;
  std::cout << "clean run: " << clean << " faults\n";
  int missed = clean == 0 ? 0 : 1;
  const std::string table = std::string(kTableName);
  // Record 1 starts right after the header (length at offset 8): its
  // AMOUNT field (offset 21, 8 digits) and NOTES field (offset 11).
  auto damage = [&](const std::string& what, const std::function<void(const std::string&)>& change) {
    const std::string copy = o.dir + "/damaged-" + what;
    fs::create_directories(copy);
    for (const char* ext : {".DBF", ".DBT", ".MDX"}) fs::copy_file(DataDir(o) + "/" + table + ext, copy + "/" + table + ext);
    change(copy);
    options.dir = copy;
    const CheckResult r = CheckSoak(options);
    std::cout << "damaged " << what << ": " << r.fault_count << " faults" << (r.faults.empty() ? "" : ", first: " + r.faults.front()) << "\n";
    if (r.fault_count == 0) ++missed;
  };
  damage("record", [&](const std::string& dir) {
    Bytes dbf = ReadBytes(dir + "/" + table + ".DBF");
    const std::size_t at = (dbf[8] | (dbf[9] << 8)) + 21 + 7;
    dbf[at] = dbf[at] == '9' ? '8' : '9';
    WriteBytes(dir + "/" + table + ".DBF", dbf);
  });
  damage("memo", [&](const std::string& dir) {
    Bytes dbf = ReadBytes(dir + "/" + table + ".DBF");
    const std::size_t first = (dbf[8] | (dbf[9] << 8)) + 11;
    std::copy(dbf.begin() + static_cast<std::ptrdiff_t>(first + 37), dbf.begin() + static_cast<std::ptrdiff_t>(first + 47),
              dbf.begin() + static_cast<std::ptrdiff_t>(first));
    WriteBytes(dir + "/" + table + ".DBF", dbf);
  });
  damage("tag", [&](const std::string& dir) {
    // The first entry of the first leaf of tag 2 (AMOUNTS) names another
    // record: follow the leftmost children from the root.
    Bytes mdx = ReadBytes(dir + "/" + table + ".MDX");
    const std::size_t header = static_cast<std::size_t>(mdx[512 + 64] | (mdx[512 + 65] << 8)) * 512;
    std::size_t node = static_cast<std::size_t>(mdx[header] | (mdx[header + 1] << 8) | (mdx[header + 2] << 16)) * 512;
    const std::size_t item = mdx[header + 18] | (mdx[header + 19] << 8);
    for (int depth = 0; depth < 10; ++depth) {
      const std::size_t count = mdx[node] | (mdx[node + 1] << 8);
      const std::size_t trailing = node + 8 + count * item;
      if ((mdx[trailing] | mdx[trailing + 1] | mdx[trailing + 2] | mdx[trailing + 3]) == 0) break;
      node = static_cast<std::size_t>(mdx[node + 8] | (mdx[node + 9] << 8) | (mdx[node + 10] << 16)) * 512;
    }
    mdx[node + 8] ^= 0x01;
    WriteBytes(dir + "/" + table + ".MDX", mdx);
  });
  std::cout << (missed == 0 ? "PASS" : "FAIL") << "\n";
  return missed == 0 ? 0 : 1;
}

int Run(const Options& o) {
  fs::remove_all(o.dir);
  fs::create_directories(DataDir(o));
  if (o.full_disk_kb > 0) {
    const std::string size = "size=" + std::to_string(o.full_disk_kb) + "k";
    if (mount("none", DataDir(o).c_str(), "tmpfs", 0, size.c_str()) != 0) {
      std::cout << "skipped: cannot mount a tmpfs (" << std::strerror(errno) << ")\n";
      return 77;
    }
  }
  struct Unmount {
    const Options& o;
    ~Unmount() {
      if (o.full_disk_kb > 0) umount(DataDir(o).c_str());
    }
  } unmount{o};

  std::vector<std::string> logs = {o.dir + "/log-0"};
  std::vector<std::string> killed;
  CreateTable(o, logs[0]);

  std::mt19937_64 random(o.seed);
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::seconds(o.seconds);
  std::vector<std::chrono::steady_clock::time_point> kill_times;
  for (int k = 0; k < o.kills; ++k) {
    const double share = 0.2 + 0.6 * (k + static_cast<double>(random() % 1000) / 1000.0) / o.kills;
    kill_times.push_back(start + std::chrono::milliseconds(static_cast<long>(o.seconds * 1000 * share)));
  }
  int next_id = 1;
  std::vector<Worker> running;
  auto start_set = [&] {
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(end - std::chrono::steady_clock::now()).count());
    for (int i = 0; i < o.workers; ++i) {
      Worker w;
      w.log = o.dir + "/log-" + std::to_string(next_id);
      w.pid = Start(o, next_id, o.seed * 1000 + static_cast<std::uint64_t>(next_id), std::max(left, 1), w.log);
      ++next_id;
      logs.push_back(w.log);
      running.push_back(w);
    }
  };
  auto wait_all = [&] {
    for (const Worker& w : running) {
      const int status = WaitFor(w.pid);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cout << "worker " << w.log << " ended with status " << status << "\n";
      }
    }
    running.clear();
  };
  start_set();
  for (const auto& when : kill_times) {
    std::this_thread::sleep_until(when);
    Worker& victim = running[random() % running.size()];
    kill(victim.pid, SIGKILL);
    WaitFor(victim.pid);
    killed.push_back(victim.log);
    victim.pid = 0;
    std::cout << "killed " << victim.log << "; semaphore file: " << SemaphoreRecord(o) << "\n";
    running.erase(std::find_if(running.begin(), running.end(), [](const Worker& w) { return w.pid == 0; }));
    // The others go on, then everybody logs off and the file is deleted.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::ofstream(DataDir(o) + "/STOP") << "stop";
    wait_all();
    std::cout << "all logged off; semaphore file: " << SemaphoreRecord(o) << "; deleted (the cure)\n";
    fs::remove(SemaphorePath(o));
    fs::remove(DataDir(o) + "/STOP");
    if (std::chrono::steady_clock::now() + std::chrono::seconds(1) < end) start_set();
  }
  wait_all();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::string check_dir = DataDir(o);
  if (o.full_disk_kb > 0) {
    // The files as the full disk left them, copied out so that the check
    // and the cure have room.
    // A second copy stays as the disk left it, for a look afterwards.
    check_dir = o.dir + "/copy";
    for (const std::string& copy : {check_dir, o.dir + "/as-left"}) {
      fs::create_directories(copy);
      for (const auto& entry : fs::directory_iterator(DataDir(o))) fs::copy(entry.path(), copy + "/" + entry.path().filename().string());
    }
  }

  if (o.damage) return CheckDamagedCopies(o, logs);

  CheckOptions options;
  options.dir = check_dir;
  options.logs = logs;
  options.killed_logs = killed;
  options.full_disk = o.full_disk_kb > 0;
  const CheckResult first = CheckSoak(options);
  std::cout << "workers " << o.workers << ", seconds " << o.seconds << ", kills " << killed.size()
            << (o.contention ? ", contention" : "") << (o.full_disk_kb > 0 ? ", full disk" : "") << ", wall "
            << wall << " s\n";
  std::cout << "figures:";
  for (const auto& [key, count] : first.figures) std::cout << " " << key << "=" << count;
  std::cout << "\noperations per second per process:";
  for (const auto& [index, rate] : first.ops_per_second) std::cout << " " << static_cast<long>(rate);
  std::cout << "\n";
  Print("check", first);
  std::int64_t faults = first.fault_count;
  if (o.full_disk_kb > 0) {
    const std::string read = ReadThrough(check_dir);
    std::cout << read << "\n";
    if (read.rfind("FAULT", 0) == 0) ++faults;
  }
  if (!killed.empty() || o.full_disk_kb > 0) {
    try {
      ErrorCode = 0;
      Cure(check_dir);
      options.strict_index_and_memo = true;
      const CheckResult second = CheckSoak(options);
      Print("after Reindex and PackMemofile", second);
      faults += second.fault_count;
    } catch (const std::exception& e) {
      std::cout << "FAULT the cure failed: " << e.what() << "\n";
      ++faults;
    }
  }
  std::cout << (faults == 0 ? "PASS" : "FAIL") << "\n";
  return faults == 0 ? 0 : 1;
}

}  // namespace
}  // namespace qd::soak

int main(int argc, char** argv) {
  qd::soak::Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (a == "--dir") o.dir = next();
    else if (a == "--workers") o.workers = std::atoi(next().c_str());
    else if (a == "--seconds") o.seconds = std::atoi(next().c_str());
    else if (a == "--kills") o.kills = std::atoi(next().c_str());
    else if (a == "--contention") o.contention = true;
    else if (a == "--full-disk") o.full_disk_kb = std::atoi(next().c_str());
    else if (a == "--damage") o.damage = true;
    else if (a == "--seed") o.seed = std::strtoull(next().c_str(), nullptr, 10);
    else if (a == "--worker") o.worker_program = next();
    else {
      std::cerr << "unknown option " << a << "\n";
      return 2;
    }
  }
  if (o.worker_program.empty()) o.worker_program = (std::filesystem::path(argv[0]).parent_path() / "qd_soak_worker").string();
  qd::InitErrorUnit();
  qd::ImmediateDispatch = false;
  qd::RaiseExceptions = true;
  qd::AnsiTables = true;
  qd::CenturyOn = true;
  qd::InitExpressionUnit();
  qd::InitIndexUnit();
  qd::InitMemoUnit();
  try {
    return qd::soak::Run(o);
  } catch (const std::exception& e) {
    std::cout << "FAIL: " << e.what() << "\n";
    return 1;
  }
}
