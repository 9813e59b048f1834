// What the stress tests share: the waits on the program and the server, and a multi-entity
// workload whose work can be told apart run by run.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "support/databases.h"
#include "support/program.h"
#include "support/temp_folder.h"

namespace vandrel::testing {

// Put into every connection string; no output of the program may ever show it.
inline constexpr const char* kSecret = "Zq7-s3cr3t-pw";

bool LongTests();  // VANDREL_LONG_TESTS=1

// Polls `ready` every `every` until it holds; false when it did not within 300 s, however
// loaded the machine.
template <class Ready>
bool WaitFor(Ready ready, std::chrono::microseconds every = std::chrono::milliseconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(every);
  }
  return true;
}

// The program's ending; a failure and SIGKILL when it did not end within the wait.
Outcome End(const Program& vandrel, pid_t pid);

// A configuration section for `entity` on the PostgreSQL `conninfo`, with the secret.
std::string PgSection(const std::string& entity, const std::string& conninfo);

// Sessions in the database of `conninfo` but the asking one, matching `where` ("AND ...").
int64_t Sessions(const std::string& conninfo, const std::string& where = "");
inline const std::string kSleeping = " AND state = 'active' AND query LIKE '%pg_sleep%'";

// After any run each entity holds all of one run's work or none of the new run's, and
// entities are committed in list order.
class Workload : public Installation {
 public:
  // CATALOGOS and NCM on SQLite; INTERNOS and SYSTABLAS on `pg` when given, else on SQLite.
  explicit Workload(const PgDatabase* pg, int scripts = 2, int batches = 3, int rows = 4);

  // Replaces the scripts with those of run `run` (> 0): the first script of each entity
  // recreates its table, every batch inserts `rows` rows tagged with the run.
  void WriteScripts(int run) const;

  // Waits until a killed client's backend has finished its last command.
  void WaitForServer() const;

  // "" or what is wrong after run `run` ended (`finished`: with success); remembers what
  // each entity holds for the next check.
  std::string Check(int run, bool finished);

  // Number of entities holding run `run` after the last Check.
  int Committed(int run) const { return static_cast<int>(std::count(held_.begin(), held_.end(), run)); }

  std::vector<std::string> secrets() const;
  int total_batches() const { return 4 * scripts_ * batches_; }

 private:
  bool OnServer(const std::string& entity) const;
  // The run whose whole work the entity holds; 0 for none; -1 (and `problem`) otherwise.
  int64_t Held(const std::string& entity, std::string& problem) const;

  const PgDatabase* pg_;
  int scripts_, batches_, rows_;
  std::vector<int64_t> held_;
};

}  // namespace vandrel::testing
