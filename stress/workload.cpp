#include "stress/workload.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <stdexcept>

namespace vandrel::testing {
namespace {

const char* const kEntities[] = {"CATALOGOS", "INTERNOS", "NCM", "SYSTABLAS"};

std::string Table(const std::string& entity) { return "trabajo_" + entity; }

}  // namespace

bool LongTests() {
  const char* v = std::getenv("VANDREL_LONG_TESTS");
  return v != nullptr && std::string(v) == "1";
}

Outcome End(const Program& vandrel, pid_t pid) {
  if (!WaitFor([&] { return Program::Ended(pid); })) {
    ADD_FAILURE() << "the program did not end";
    kill(pid, SIGKILL);
  }
  return vandrel.Wait(pid);
}

std::string PgSection(const std::string& entity, const std::string& conninfo) {
  return "[" + entity + "]\nTag=POSTGRESQL\nConnection=" + conninfo + " password=" + kSecret + "\n";
}

int64_t Sessions(const std::string& conninfo, const std::string& where) {
  return PgValue(conninfo, "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                           "AND pid <> pg_backend_pid()" + where);
}

Workload::Workload(const PgDatabase* pg, int scripts, int batches, int rows)
    : Installation(pg ? std::vector<std::string>{"CATALOGOS", "NCM"}
                      : std::vector<std::string>(std::begin(kEntities), std::end(kEntities)),
                   pg ? PgSection("INTERNOS", pg->conninfo()) + PgSection("SYSTABLAS", pg->conninfo()) : ""),
      pg_(pg), scripts_(scripts), batches_(batches), rows_(rows), held_(std::size(kEntities), 0) {}

bool Workload::OnServer(const std::string& entity) const {
  return pg_ != nullptr && (entity == "INTERNOS" || entity == "SYSTABLAS");
}

void Workload::WriteScripts(int run) const {
  const std::string r = std::to_string(run);
  for (const std::string e : kEntities)
    for (int s = 1; s <= scripts_; ++s) {
      std::string text = "-- corrida " + r + "\r\n";
      if (s == 1)
        text += "DROP TABLE IF EXISTS " + Table(e) + ";\r\nCREATE TABLE " + Table(e) +
                "(run INTEGER NOT NULL, script INTEGER NOT NULL, batch INTEGER NOT NULL, "
                "n INTEGER NOT NULL);\r\nGO\r\n";
      for (int b = 1; b <= batches_; ++b) {
        text += "INSERT INTO " + Table(e) + " VALUES ";
        for (int n = 1; n <= rows_; ++n)
          text += (n > 1 ? ", (" : "(") + r + ", " + std::to_string(s) + ", " +
                  std::to_string(b) + ", " + std::to_string(n) + ")";
        // Both spellings of the separator line.
        text += b % 2 ? ";\r\nGO\r\n" : ";\r\ngo\r\n";
      }
      program.Write(e + "_0" + std::to_string(s) + ".sql", text);
    }
}

void Workload::WaitForServer() const {
  if (pg_ != nullptr && !WaitFor([&] { return Sessions(pg_->conninfo()) == 0; }, std::chrono::milliseconds(5)))
    throw std::runtime_error("the server still holds a session of the workload");
}

int64_t Workload::Held(const std::string& e, std::string& problem) const {
  const bool server = OnServer(e);
  const auto Row = [&](const std::string& sql) { return server ? PgRow(pg_->conninfo(), sql) : SqliteRow(Db(e), sql); };
  if (!server) {
    const auto check = Row("PRAGMA integrity_check");
    if (check.empty() || check[0] != "ok") {
      problem = e + ": integrity_check says " + (check.empty() ? "nothing" : check[0]);
      return -1;
    }
  }
  if (Row(server ? "SELECT count(*) FROM pg_tables WHERE tablename = lower('" + Table(e) + "')"
                 : "SELECT count(*) FROM sqlite_master WHERE name = '" + Table(e) + "'").at(0) == "0")
    return 0;
  const auto row = Row("SELECT count(*), count(DISTINCT run), coalesce(min(run), 0) FROM " + Table(e));
  const int64_t rows = std::stoll(row.at(0));
  const int64_t runs = std::stoll(row.at(1));
  const int64_t full = int64_t{scripts_} * batches_ * rows_;
  if (runs != 1 || rows != full) {
    problem = e + " is half done: " + std::to_string(rows) + " of " + std::to_string(full) +
              " rows, from " + std::to_string(runs) + " runs";
    return -1;
  }
  return std::stoll(row.at(2));
}

std::string Workload::Check(int run, bool finished) {
  std::string problem;
  bool stillRun = true;  // every entity so far holds this run
  std::vector<int64_t> now;
  for (std::size_t i = 0; i < std::size(kEntities); ++i) {
    const std::string e = kEntities[i];
    const int64_t held = Held(e, problem);
    if (held < 0) return problem;
    if (held != run && held != held_[i])
      return e + " holds run " + std::to_string(held) + ", neither the run " + std::to_string(run) +
             " nor what it held before (" + std::to_string(held_[i]) + ")";
    if (held == run && !stillRun) return e + " was committed although an entity before it was not";
    if (held != run) stillRun = false;
    if (finished && held != run) return "the run reported success but " + e + " does not hold its work";
    now.push_back(held);
  }
  held_ = now;
  return "";
}

std::vector<std::string> Workload::secrets() const {
  std::vector<std::string> s{kSecret};
  if (pg_ != nullptr) s.push_back(pg_->conninfo());
  return s;
}

}  // namespace vandrel::testing
