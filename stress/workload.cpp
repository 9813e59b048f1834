#include "stress/workload.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace vandrel::testing {
namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

Workload::Workload(fs::path program, fs::path programFiles, const PgDatabase* pg,
                   std::string appName, int scripts, int batches, int rows)
    : program_(std::move(program)),
      pg_(pg),
      appName_(std::move(appName)),
      scripts_(scripts),
      batches_(batches),
      rows_(rows) {
  const fs::path corvessa = programFiles / "Corvessa";
  fs::create_directories(corvessa);
  std::string ini;
  for (const char* name : {"CATALOGOS", "INTERNOS", "NCM", "SYSTABLAS"}) {
    Entity e{name, "trabajo_" + std::string(name), {}};
    const bool server = pg_ != nullptr && (e.name == "INTERNOS" || e.name == "SYSTABLAS");
    ini += "[" + e.name + "]\n";
    if (server) {
      ini += "Tag=POSTGRESQL\nConnection=" + pg_->conninfo() + " application_name=" + appName_ +
             " password=" + kSecret + "\n\n";
    } else {
      e.sqlite = corvessa / (e.name + ".db");
      WriteFile(e.sqlite, "");
      ini += "Tag=SQLITE\nConnection=" + e.name + ".db\n\n";
    }
    entities_.push_back(std::move(e));
  }
  WriteFile(corvessa / "quillmereconfig.ini", ini);
  held_.assign(entities_.size(), 0);
}

void Workload::WriteScripts(int run) {
  const std::string r = std::to_string(run);
  for (const Entity& e : entities_)
    for (int s = 1; s <= scripts_; ++s) {
      std::string text = "-- corrida " + r + "\r\n";
      if (s == 1)
        text += "DROP TABLE IF EXISTS " + e.table + ";\r\nCREATE TABLE " + e.table +
                "(run INTEGER NOT NULL, script INTEGER NOT NULL, batch INTEGER NOT NULL, "
                "n INTEGER NOT NULL);\r\nGO\r\n";
      for (int b = 1; b <= batches_; ++b) {
        text += "INSERT INTO " + e.table + " VALUES ";
        for (int n = 1; n <= rows_; ++n)
          text += (n > 1 ? ", (" : "(") + r + ", " + std::to_string(s) + ", " +
                  std::to_string(b) + ", " + std::to_string(n) + ")";
        // Both spellings of the separator line.
        text += b % 2 ? ";\r\nGO\r\n" : ";\r\ngo\r\n";
      }
      WriteFile(program_ / (e.name + "_0" + std::to_string(s) + ".sql"), text);
    }
}

void Workload::WaitForServer() const {
  if (pg_ == nullptr) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (pg_->Value("SELECT count(*) FROM pg_stat_activity WHERE application_name = '" +
                    appName_ + "'") != 0) {
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("the server still holds a session of " + appName_);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int64_t Workload::Held(const Entity& e, std::string& problem) const {
  std::vector<std::string> row;
  const std::string count =
      "SELECT count(*), count(DISTINCT run), coalesce(min(run), 0) FROM " + e.table;
  if (!e.sqlite.empty()) {
    const auto check = SqliteRow(e.sqlite.string(), "PRAGMA integrity_check");
    if (check.empty() || check[0] != "ok") {
      problem = e.name + ": integrity_check says " + (check.empty() ? "nothing" : check[0]);
      return -1;
    }
    if (SqliteRow(e.sqlite.string(), "SELECT count(*) FROM sqlite_master WHERE name = '" + e.table + "'")
            .at(0) == "0")
      return 0;
    row = SqliteRow(e.sqlite.string(), count);
  } else {
    if (pg_->Value("SELECT count(*) FROM pg_tables WHERE tablename = lower('" + e.table + "')") == 0)
      return 0;
    row = PgRow(pg_->conninfo(), count);
  }
  const int64_t rows = std::stoll(row.at(0));
  const int64_t runs = std::stoll(row.at(1));
  const int64_t full = int64_t{scripts_} * batches_ * rows_;
  if (runs != 1 || rows != full) {
    problem = e.name + " is half done: " + std::to_string(rows) + " of " + std::to_string(full) +
              " rows, from " + std::to_string(runs) + " runs";
    return -1;
  }
  return std::stoll(row.at(2));
}

std::string Workload::Check(int run, bool finished) {
  std::string problem;
  bool stillRun = true;  // every entity so far holds this run
  std::vector<int64_t> now;
  for (std::size_t i = 0; i < entities_.size(); ++i) {
    const int64_t held = Held(entities_[i], problem);
    if (held < 0) return problem;
    if (held != run && held != held_[i])
      return entities_[i].name + " holds run " + std::to_string(held) + ", neither the run " +
             std::to_string(run) + " nor what it held before (" + std::to_string(held_[i]) + ")";
    if (held == run && !stillRun)
      return entities_[i].name + " was committed although an entity before it was not";
    if (held != run) stillRun = false;
    if (finished && held != run)
      return "the run reported success but " + entities_[i].name + " does not hold its work";
    now.push_back(held);
  }
  held_ = now;
  return "";
}

int Workload::Committed(int run) const {
  int n = 0;
  for (int64_t h : held_) n += h == run;
  return n;
}

std::vector<std::string> Workload::secrets() const {
  std::vector<std::string> s{kSecret};
  if (pg_ != nullptr) s.push_back(pg_->conninfo());
  return s;
}

}  // namespace vandrel::testing
