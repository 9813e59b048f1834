// vandrelsql-check --rehearse: every entity's scripts run twice, as two starts of the
// updater would run them, through the updater's own routines (its connection from the
// data-access manager, its BeginTrans, its reading, cutting and executing), every
// transaction open until the end, then all rolled back. Nothing is ever committed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/check.h"
#include "shell/desktop.h"

namespace vandrel::check {

enum class Outcome { Passed, Failed, NotProven, NotRehearsed };
// "passed", "failed", "not-proven", "not-rehearsed".
const char* OutcomeName(Outcome outcome);

// Where a rehearsal stopped: a batch that failed or would have ended the transaction, a
// script that could not be read, or the checks a commit would make.
struct Stop {
  std::string script;       // its file name; empty for the commit's checks
  std::string path;         // folder and name, as the output names it
  int run = 1;              // 1 or 2
  int64_t batch = 0;        // the number the updater's report shows
  std::string batchText;    // as executed, empty when none was formed
  std::string message;      // the engine's text, or why
  std::optional<shell::FailurePlace> place;
};

struct ScriptRun {
  bool ran = false;
  Outcome outcome = Outcome::NotRehearsed;
  double seconds = 0;
  std::vector<std::optional<int64_t>> rows;  // changed by each batch that ran, in order
};

struct ScriptRehearsal {
  std::string file;
  Outcome outcome = Outcome::NotRehearsed;
  std::array<ScriptRun, 2> runs;  // first and second run
};

struct EntityRehearsal {
  std::string entity;
  Outcome outcome = Outcome::NotRehearsed;
  double seconds = 0;
  std::string engine;      // "SQLite", "PostgreSQL", "<DBMS> (ODBC)"; empty without connection
  std::string sharesWith;  // the first entity on the same database; empty for that one
  std::string reason;      // for every outcome but Passed, in Spanish
  bool unreadable = false; // a connection, the configuration or a script could not be had
  std::vector<ScriptRehearsal> scripts;
  std::optional<Stop> stop;
};

struct Rehearsal {
  std::vector<EntityRehearsal> entities;
  // 1 a batch failed (first or second run, or the commit's checks); 2 a connection, the
  // configuration or a script could not be had; 3 not proven; 0 all passed twice.
  int Status() const;
};

// The engines whose every change a rollback undoes.
bool EngineRehearsable(const std::string& engine);

// Rehearses `scripts` (in run order, as DiscoverScripts gives them) with `env`'s program
// folder. The data-access manager must be registered. Never commits; every connection it
// opened is rolled back and released when it returns or throws. Tells services.events of
// each batch and each script's end, as the update run does.
Rehearsal Rehearse(platform::Env& env, const std::vector<Discovered>& scripts);

}  // namespace vandrel::check
