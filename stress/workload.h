// A multi-entity set of scripts whose work can be told apart run by run, and the check of
// the promise over the entities' databases: each holds all of one run's work or none of
// the new run's, and entities are committed in list order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/databases.h"

namespace vandrel::testing {

// Put into every connection string; no output of the program may ever show it.
inline constexpr const char* kSecret = "Zq7-s3cr3t-pw";

class Workload {
 public:
  // CATALOGOS and NCM on SQLite files in `programFiles`/Corvessa; INTERNOS and SYSTABLAS on
  // `pg` when given (sessions named `appName`), else on SQLite files too.
  Workload(std::filesystem::path program, std::filesystem::path programFiles,
           const PgDatabase* pg, std::string appName, int scripts = 2, int batches = 3,
           int rows = 4);

  // Replaces the scripts with those of run `run` (> 0): the first script of each entity
  // recreates its table, every batch inserts `rows` rows tagged with the run.
  void WriteScripts(int run);

  // Waits until the server holds no session of this workload (a killed client's backend
  // may still be finishing its last command).
  void WaitForServer() const;

  // Checks the databases after run `run` ended; `finished` says it reported success.
  // Returns "" or what is wrong. Remembers what each entity holds for the next check.
  std::string Check(int run, bool finished);

  // Number of entities holding run `run` after the last Check.
  int Committed(int run) const;

  std::vector<std::string> secrets() const;
  int total_batches() const { return 4 * scripts_ * batches_; }

 private:
  struct Entity {
    std::string name;
    std::string table;
    std::filesystem::path sqlite;  // empty on the server
  };
  // The run whose whole work the entity holds; 0 for none; -1 (and `problem`) otherwise.
  int64_t Held(const Entity& entity, std::string& problem) const;

  std::filesystem::path program_;
  const PgDatabase* pg_;
  std::string appName_;
  int scripts_, batches_, rows_;
  std::vector<Entity> entities_;
  std::vector<int64_t> held_;
};

}  // namespace vandrel::testing
