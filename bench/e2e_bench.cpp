// Whole runs of the built program against the engines' own clients on the same statements.
// Each workload runs the program (console front end: no display variables) and the client
// in turn, a few times, and prints the best time of each and their ratio. The program's
// time leaves out its fixed two-second start, measured in the same run as the gap between
// its "Preparando ..." line and its first "Buscando actualizaciones" line.
//
//   e2e_bench EXE sqlite   [scripts=20] [batches=32767]
//   e2e_bench EXE postgres CONNINFO [scripts=20] [batches=32767]     (native and ODBC)
//   e2e_bench EXE heavy    CONNINFO|- [rows=1000000]
//   e2e_bench EXE bigfile  [MiB=1024]
//   e2e_bench EXE startup
//   e2e_bench EXE remote   CONNINFO DELAY_MS [batches=2000]  (through a delay proxy; 0: direct)
//   e2e_bench EXE version   (--version without a display: time, memory, libraries)
//
// Every result is also printed as one line "RESULT|workload|program|client|ratio|target"
// for bench/run to gather into a table.

#include <fcntl.h>
#include <libpq-fe.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "delay_proxy.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

int Reps() {
  const char* reps = std::getenv("BENCH_REPS");
  return reps != nullptr && std::atoi(reps) > 0 ? std::atoi(reps) : 3;
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "e2e_bench: %s\n", what.c_str());
  std::exit(2);
}

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vandrel-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) Die("mkdtemp failed");
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) Die("cannot write " + path.string());
}

struct Line {
  double at;  // seconds after the process was started
  std::string text;
};

struct Run {
  double seconds = 0;
  double cpu = 0;  // user + system time of the process itself
  int status = -1;
  double peakMiB = 0;
  std::vector<Line> lines;
  std::string stderrText;

  double At(const std::string& prefix) const {
    for (const Line& line : lines)
      if (line.text.rfind(prefix, 0) == 0) return line.at;
    return -1;
  }
};

// Runs argv in `cwd`, with `env` ("NAME=value" added, "-NAME" removed); stdin from
// `input` (or /dev/null); stdout lines are timestamped when `lines` is set, else dropped.
Run Spawn(const std::vector<std::string>& argv, const fs::path& cwd,
          const std::vector<std::string>& env, const std::string& input = "",
          bool lines = false) {
  int out[2];
  if (pipe(out) != 0) Die("pipe failed");
  const fs::path errPath = cwd / ".bench-stderr";
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    for (const std::string& e : env) {
      if (e[0] == '-') {
        unsetenv(e.c_str() + 1);
      } else {
        const auto eq = e.find('=');
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
      }
    }
    const int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(lines ? out[1] : devnull, 1);
    dup2(err, 2);
    close(out[0]);
    close(out[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  Run run;
  std::string partial;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    const double at = std::chrono::duration<double>(Clock::now() - start).count();
    partial.append(buf, static_cast<std::size_t>(n));
    std::size_t from = 0;
    for (std::size_t nl; (nl = partial.find('\n', from)) != std::string::npos; from = nl + 1)
      run.lines.push_back({at, partial.substr(from, nl - from)});
    partial.erase(0, from);
  }
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::ifstream err(errPath);
  run.stderrText.assign(std::istreambuf_iterator<char>(err), {});
  return run;
}

// A program folder: the executable and its scripts, with ProgramFiles beside it.
struct Program {
  TempDir dir;
  fs::path folder = dir.path / "program";
  fs::path corvessa = dir.path / "ProgramFiles" / "Corvessa";

  explicit Program(const std::string& exe) {
    fs::create_directories(folder);
    fs::create_directories(corvessa);
    fs::copy_file(exe, folder / "vandrelsql");
  }

  void Config(const std::string& ini) { WriteFile(corvessa / "quillmereconfig.ini", ini); }

  // Runs the console front end; the returned seconds leave out the start delay.
  Run Start(double* delay = nullptr) {
    Run run = Spawn({"./vandrelsql"}, folder,
                    {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM",
                     "ProgramFiles=" + (dir.path / "ProgramFiles").string()},
                    "", true);
    const double preparing = run.At("Preparando ...");
    const double searching = run.At("Buscando actualizaciones");
    if (run.status != 0 || preparing < 0 || searching < 0)
      Die("the program failed (status " + std::to_string(run.status) + "): " +
          run.stderrText.substr(0, 2000));
    const double gap = searching - preparing;
    if (delay != nullptr) *delay = gap;
    run.seconds -= gap;
    return run;
  }
};

std::string Insert(long i) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "INSERT INTO registros (id, nombre, importe, alta) VALUES (%ld, 'Registro %ld', "
                "%ld.%02ld, '2024-05-17')",
                i, i, i % 100000, i % 100);
  return buf;
}

constexpr const char* kTable =
    "CREATE TABLE registros (id INTEGER PRIMARY KEY, nombre VARCHAR(40), importe NUMERIC(12,2),"
    " alta DATE)";

// The scripts CATALOGOS_01.sql... of `batches` single-insert batches each, and the same
// statements one per line in `client` (wrapped in BEGIN/COMMIT when `wrap`).
void WriteInsertScripts(const fs::path& folder, const std::string& prefix, int scripts,
                        int batches, const fs::path& client, bool wrap) {
  std::string all = wrap ? "BEGIN;\n" : "";
  long id = 0;
  for (int s = 1; s <= scripts; ++s) {
    std::string text;
    for (int b = 0; b < batches; ++b) {
      const std::string stmt = Insert(++id);
      text += stmt;
      text += ";\r\nGO\r\n";
      all += stmt;
      all += ";\n";
    }
    char name[64];
    std::snprintf(name, sizeof name, "%s_%02d.sql", prefix.c_str(), s);
    WriteFile(folder / name, text);
  }
  if (wrap) all += "COMMIT;\n";
  WriteFile(client, all);
}

void SqliteExec(const fs::path& db, const std::string& sql) {
  sqlite3* h = nullptr;
  if (sqlite3_open(db.c_str(), &h) != SQLITE_OK) Die("cannot open " + db.string());
  char* err = nullptr;
  if (sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK)
    Die(std::string("sqlite: ") + (err ? err : "?"));
  sqlite3_close(h);
}

long SqliteCount(const fs::path& db, const std::string& sql) {
  sqlite3* h = nullptr;
  sqlite3_open(db.c_str(), &h);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr);
  long n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(h);
  return n;
}

std::string PgValue(const std::string& conninfo, const std::string& sql) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) != CONNECTION_OK) Die(std::string("postgres: ") + PQerrorMessage(c));
  PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);  // "does not exist, skipping"
  PGresult* r = PQexec(c, sql.c_str());
  const ExecStatusType st = PQresultStatus(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
    Die("postgres: " + sql.substr(0, 80) + ": " + PQresultErrorMessage(r));
  std::string value = st == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
  PQclear(r);
  PQfinish(c);
  return value;
}

// The best time of `reps` runs of each side, alternated so that drift hits both.
struct Pair {
  double program = 1e300, client = 1e300, delay = 0, peakMiB = 0;
  double programCpu = 1e300, clientCpu = 1e300;
};
Pair Compare(const std::function<Run()>& program, const std::function<Run()>& client,
             int reps = Reps()) {
  Pair best;
  for (int i = 0; i < reps; ++i) {
    const Run p = program();
    best.program = std::min(best.program, p.seconds);
    best.peakMiB = std::max(best.peakMiB, p.peakMiB);
    const Run c = client();
    if (c.status != 0) Die("the client failed: " + c.stderrText.substr(0, 2000));
    best.client = std::min(best.client, c.seconds);
    best.programCpu = std::min(best.programCpu, p.cpu);
    best.clientCpu = std::min(best.clientCpu, c.cpu);
    std::fprintf(stderr, "  run %d: program %.3f s (cpu %.3f s), client %.3f s (cpu %.3f s)\n",
                 i + 1, p.seconds, p.cpu, c.seconds, c.cpu);
  }
  return best;
}

void Report(const std::string& workload, const Pair& best, const std::string& target,
            const std::string& note = "") {
  const double program = best.program, client = best.client;
  std::printf("%s\n  program %.3f s, client %.3f s, ratio %.3f, target %s; own cpu: program "
              "%.3f s, client %.3f s%s%s\n",
              workload.c_str(), program, client, program / client, target.c_str(),
              best.programCpu, best.clientCpu, note.empty() ? "" : "; ", note.c_str());
  std::printf("RESULT|%s|%.3f s (cpu %.3f)|%.3f s (cpu %.3f)|%.3f|%s\n", workload.c_str(),
              program, best.programCpu, client, best.clientCpu, program / client, target.c_str());
  std::fflush(stdout);
}

// --- workloads ------------------------------------------------------------------------

void BenchSqlite(const std::string& exe, int scripts, int batches) {
  Program prog(exe);
  const fs::path db = prog.corvessa / "catalogos.db";
  const fs::path client = prog.dir.path / "client.sql";
  prog.Config("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  WriteInsertScripts(prog.folder, "CATALOGOS", scripts, batches, client, true);
  const long rows = static_cast<long>(scripts) * batches;
  auto fresh = [&] {
    fs::remove(db);
    SqliteExec(db, kTable);
  };
  double delay = 0;
  const Pair best = Compare(
      [&] {
        fresh();
        Run r = prog.Start(&delay);
        if (SqliteCount(db, "SELECT count(*) FROM registros") != rows) Die("rows missing");
        return r;
      },
      [&] {
        fresh();
        Run r = Spawn({"sqlite3", db.string()}, prog.dir.path, {}, client.string());
        if (SqliteCount(db, "SELECT count(*) FROM registros") != rows) Die("client rows missing");
        return r;
      });
  char label[120];
  std::snprintf(label, sizeof label, "SQLite, %d scripts x %d inserts", scripts, batches);
  char note[80];
  std::snprintf(note, sizeof note, "(start delay %.3f s taken out)", delay);
  Report(label, best, "<= 1.10", note);
}

void BenchPostgres(const std::string& exe, const std::string& conninfo, int scripts, int batches) {
  PgValue(conninfo, "DROP DATABASE IF EXISTS vandrel_bench");
  PgValue(conninfo, "CREATE DATABASE vandrel_bench");
  std::string host = "127.0.0.1", port = "5432", user = "vandrel";
  {
    PGconn* c = PQconnectdb(conninfo.c_str());
    if (PQstatus(c) != CONNECTION_OK) Die(std::string("postgres: ") + PQerrorMessage(c));
    host = PQhost(c);
    port = PQport(c);
    user = PQuser(c);
    PQfinish(c);
  }
  const std::string bench = "host=" + host + " port=" + port + " user=" + user +
                            " dbname=vandrel_bench";
  Program prog(exe);
  // SYSTABLAS: the same ODBC source with the driver's rollback on errors at transaction
  // level, so that it does not wrap every statement in a savepoint of its own.
  const std::string odbc = "Driver={PostgreSQL Unicode};Server=" + host + ";Port=" + port +
                           ";Database=vandrel_bench;Uid=" + user;
  prog.Config("[INTERNOS]\nTag=POSTGRESQL\nConnection=" + bench + "\n[NCM]\nTag=ODBC\nConnection=" +
              odbc + "\n[SYSTABLAS]\nTag=ODBC\nConnection=" + odbc + ";Protocol=7.4-1\n");
  const fs::path client = prog.dir.path / "client.sql";
  const long rows = static_cast<long>(scripts) * batches;
  auto fresh = [&] {
    PgValue(bench, "DROP TABLE IF EXISTS registros");
    PgValue(bench, kTable);
    PgValue(bench, "CHECKPOINT");
  };
  auto check = [&] {
    if (std::stol(PgValue(bench, "SELECT count(*) FROM registros")) != rows) Die("rows missing");
  };
  const auto psql = [&] {
    fresh();
    Run r = Spawn({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-1", "-f", client.string(), bench},
                  prog.dir.path, {});
    check();
    return r;
  };
  for (const std::string prefix : {"INTERNOS", "NCM", "SYSTABLAS"}) {
    for (const auto& f : fs::directory_iterator(prog.folder))
      if (f.path().extension() == ".sql") fs::remove(f.path());
    WriteInsertScripts(prog.folder, prefix, scripts, batches, client, false);
    const Pair best = Compare(
        [&] {
          fresh();
          Run r = prog.Start();
          check();
          return r;
        },
        psql);
    char label[120];
    std::snprintf(label, sizeof label, "PostgreSQL %s, %d scripts x %d inserts",
                  prefix == "INTERNOS" ? "native"
                  : prefix == "NCM"    ? "ODBC"
                                       : "ODBC with Protocol=7.4-1",
                  scripts, batches);
    Report(label, best, prefix == "INTERNOS" ? "<= 1.10" : "<= 1.5");
  }
  PgValue(conninfo, "DROP DATABASE IF EXISTS vandrel_bench");
}

// Index builds over a table of `rows` rows: the scripts build them, batch by batch, against
// the client building the same indexes in one transaction.
void BenchHeavy(const std::string& exe, const std::string& conninfo, long rows) {
  const std::vector<std::string> indexes = {
      "CREATE INDEX ix_grande_a ON grande (a)",
      "CREATE INDEX ix_grande_bc ON grande (b, c)",
      "CREATE UNIQUE INDEX ix_grande_id_a ON grande (id, a)",
  };
  const std::string drop =
      "DROP INDEX IF EXISTS ix_grande_a; DROP INDEX IF EXISTS ix_grande_bc; "
      "DROP INDEX IF EXISTS ix_grande_id_a";
  std::string script, client = "BEGIN;\n";
  for (const std::string& ix : indexes) {
    script += ix + ";\r\nGO\r\n";
    client += ix + ";\n";
  }
  client += "COMMIT;\n";
  const std::string n = std::to_string(rows);

  {  // SQLite
    Program prog(exe);
    prog.Config("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
    WriteFile(prog.folder / "CATALOGOS_01.sql", script);
    WriteFile(prog.dir.path / "client.sql", client);
    const fs::path db = prog.corvessa / "catalogos.db";
    SqliteExec(db,
               "CREATE TABLE grande (id INTEGER PRIMARY KEY, a INTEGER, b TEXT, c REAL);"
               "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < " + n +
                   ") INSERT INTO grande SELECT i, (i * 7919) % 1000003, 'valor ' || ((i * 31) % "
                   "50000), i * 0.5 FROM s;");
    const Pair best = Compare(
        [&] {
          SqliteExec(db, drop);
          return prog.Start();
        },
        [&] {
          SqliteExec(db, drop);
          return Spawn({"sqlite3", db.string()}, prog.dir.path, {},
                       (prog.dir.path / "client.sql").string());
        },
        Reps() + 2);
    Report("SQLite, 3 index builds over " + n + " rows", best, "<= 1.02");
  }
  if (conninfo == "-") return;
  {  // PostgreSQL, native
    PgValue(conninfo, "DROP DATABASE IF EXISTS vandrel_bench");
    PgValue(conninfo, "CREATE DATABASE vandrel_bench");
    PGconn* c = PQconnectdb(conninfo.c_str());
    const std::string bench = std::string("host=") + PQhost(c) + " port=" + PQport(c) +
                              " user=" + PQuser(c) + " dbname=vandrel_bench";
    PQfinish(c);
    PgValue(bench,
            "CREATE TABLE grande (id INTEGER PRIMARY KEY, a INTEGER, b TEXT, c REAL);"
            "INSERT INTO grande SELECT i, (i::bigint * 7919) % 1000003, 'valor ' || ((i * 31) % "
            "50000), i * 0.5 FROM generate_series(1, " + n + ") AS i");
    PgValue(bench, "VACUUM ANALYZE grande");
    Program prog(exe);
    prog.Config("[INTERNOS]\nTag=POSTGRESQL\nConnection=" + bench + "\n");
    WriteFile(prog.folder / "INTERNOS_01.sql", script);
    WriteFile(prog.dir.path / "client.sql", client);
    const Pair best = Compare(
        [&] {
          PgValue(bench, drop);
          PgValue(bench, "CHECKPOINT");
          return prog.Start();
        },
        [&] {
          PgValue(bench, drop);
          PgValue(bench, "CHECKPOINT");
          return Spawn({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-f",
                        (prog.dir.path / "client.sql").string(), bench},
                       prog.dir.path, {});
        },
        Reps() + 2);
    Report("PostgreSQL native, 3 index builds over " + n + " rows", best, "<= 1.02");
    PgValue(conninfo, "DROP DATABASE IF EXISTS vandrel_bench");
  }
}

// A script of `mib` MiB without a GO line: read, normalised and cut, nothing executed.
// Against reading the file and counting its lines (`wc -l`).
void BenchBigFile(const std::string& exe, long mib) {
  Program prog(exe);
  prog.Config("[CATALOGOS]\nTag=SQLITE\nConnection=catalogos.db\n");
  WriteFile(prog.corvessa / "catalogos.db", "");
  const fs::path script = prog.folder / "CATALOGOS_01.sql";
  {
    std::ofstream out(script, std::ios::binary);
    std::string block;
    long i = 0;
    while (block.size() < (4u << 20)) {
      ++i;
      block += Insert(i) + ";\r\n-- comentario, año " + std::to_string(i) + "\r\n";
    }
    const long size = mib << 20;
    for (long written = 0; written < size;) {
      const long n = std::min<long>(static_cast<long>(block.size()), size - written);
      out.write(block.data(), n);
      written += n;
    }
  }
  const double fileMiB = static_cast<double>(fs::file_size(script)) / kMiB;
  double peak = 0;
  const Pair best = Compare(
      [&] {
        Run r = prog.Start();
        peak = std::max(peak, r.peakMiB);
        return r;
      },
      [&] { return Spawn({"wc", "-l", script.string()}, prog.dir.path, {}); });
  char label[120];
  std::snprintf(label, sizeof label, "Whole run, %ld MiB script without GO (vs wc -l)", mib);
  char note[160];
  std::snprintf(note, sizeof note, "peak RSS %.0f MiB, limit 1.2 x %.0f + 32 = %.0f MiB", peak,
                fileMiB, 1.2 * fileMiB + 32);
  Report(label, best, "none (shown)", note);
  std::printf("RESULT|Peak memory of that run|%.0f MiB|%.0f MiB file|%.2f|<= 1.2 x file + 32 MiB\n",
              peak, fileMiB, peak / (1.2 * fileMiB + 32));
}

// Start-up of the console front end on a folder without scripts.
void BenchStartup(const std::string& exe) {
  Program prog(exe);
  double title = 1e9, preparing = 1e9, searching = 1e9, total = 1e9;
  for (int i = 0; i < Reps() + 2; ++i) {
    Run r = Spawn({"./vandrelsql"}, prog.folder,
                  {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM",
                   "ProgramFiles=" + (prog.dir.path / "ProgramFiles").string()},
                  "", true);
    if (r.status != 0) Die("the program failed on an empty folder: " + r.stderrText);
    title = std::min(title, r.lines.at(0).at);
    preparing = std::min(preparing, r.At("Preparando ..."));
    searching = std::min(searching, r.At("Buscando actualizaciones"));
    total = std::min(total, r.seconds);
  }
  std::printf("Console start-up: title line %.4f s, \"Preparando ...\" %.4f s, first run status "
              "%.4f s (delay %.4f s), exit %.4f s\n",
              title, preparing, searching, searching - preparing, total);
  std::printf("RESULT|Console start-up to \"Preparando ...\"|%.4f s|-|-|none (shown)\n", preparing);
  std::printf("RESULT|Console start-up to the run's first status|%.4f s|-|-|2 s by design\n",
              searching);
  std::printf("RESULT|Start delay (first status gap)|%.4f s|-|-|2 s by design\n",
              searching - preparing);
}

// `EXE --version` without a display: what every start pays before the update begins.
void BenchVersion(const std::string& exe) {
  const fs::path here = fs::path(exe).parent_path();
  const std::vector<std::string> headless = {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM"};
  double best = 1e9, peak = 0;
  for (int i = 0; i < Reps() + 2; ++i) {
    const Run r = Spawn({exe, "--version"}, here, headless);
    if (r.status != 0) Die("--version failed: " + r.stderrText);
    best = std::min(best, r.seconds);
    peak = std::max(peak, r.peakMiB);
  }
  // The dynamic loader's own list of what it maps.
  std::vector<std::string> traced = headless;
  traced.push_back("LD_TRACE_LOADED_OBJECTS=1");
  const Run libraries = Spawn({exe}, here, traced, "", true);
  std::printf("--version without a display: %.4f s, peak %.1f MiB, %zu shared libraries\n", best,
              peak, libraries.lines.size());
  std::printf("RESULT|`vandrelsql --version` without a display|%.4f s, %.1f MiB, %zu shared "
              "libraries|-|-|faster than with the window linked in (16 ms, 22 MiB, 73)\n",
              best, peak, libraries.lines.size());
}

int Arg(char** argv, int argc, int i, int fallback) {
  return i < argc ? std::atoi(argv[i]) : fallback;
}

// One script of single-insert batches through a proxy that delays each direction by
// `delayMs` (none at 0: the server directly), pipelined and with Pipeline=no, against
// psql -X -1 -f on the same statements one per line, through the same proxy.
void BenchRemote(const std::string& exe, const std::string& conninfo, double delayMs, int batches) {
  PgValue(conninfo, "DROP DATABASE IF EXISTS vandrel_bench_remote");
  PgValue(conninfo, "CREATE DATABASE vandrel_bench_remote");
  std::string host, user;
  int port = 0;
  {
    PGconn* c = PQconnectdb(conninfo.c_str());
    if (PQstatus(c) != CONNECTION_OK) Die(std::string("postgres: ") + PQerrorMessage(c));
    host = PQhost(c);
    port = std::atoi(PQport(c));
    user = PQuser(c);
    PQfinish(c);
  }
  std::unique_ptr<vandrel::bench::DelayProxy> proxy;
  if (delayMs > 0) proxy = std::make_unique<vandrel::bench::DelayProxy>(host, port, delayMs);
  const std::string direct = "host=" + host + " port=" + std::to_string(port) + " user=" + user +
                             " dbname=vandrel_bench_remote";
  const std::string far = "host=" + host + " port=" + std::to_string(proxy ? proxy->port() : port) +
                          " user=" + user + " dbname=vandrel_bench_remote";
  Program pipelined(exe), serial(exe);
  pipelined.Config("[INTERNOS]\nTag=POSTGRESQL\nConnection=" + far + "\n");
  serial.Config("[INTERNOS]\nTag=POSTGRESQL\nConnection=" + far + "\nPipeline=no\n");
  const fs::path client = pipelined.dir.path / "client.sql";
  WriteInsertScripts(pipelined.folder, "INTERNOS", 1, batches, client, false);
  WriteInsertScripts(serial.folder, "INTERNOS", 1, batches, serial.dir.path / "client.sql", false);
  auto fresh = [&] {
    PgValue(direct, "DROP TABLE IF EXISTS registros");
    PgValue(direct, kTable);
    PgValue(direct, "CHECKPOINT");
  };
  auto check = [&] {
    if (std::stol(PgValue(direct, "SELECT count(*) FROM registros")) != batches) Die("rows missing");
  };
  auto program = [&](Program& prog) {
    fresh();
    Run r = prog.Start();
    check();
    return r;
  };
  double serialBest = 1e300, serialCpu = 1e300;
  const Pair best = Compare(
      [&] {
        const Run s = program(serial);
        serialBest = std::min(serialBest, s.seconds);
        serialCpu = std::min(serialCpu, s.cpu);
        std::fprintf(stderr, "  Pipeline=no %.3f s\n", s.seconds);
        return program(pipelined);
      },
      [&] {
        fresh();
        Run r = Spawn({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-1", "-f", client.string(), far},
                      pipelined.dir.path, {});
        check();
        return r;
      });
  char label[160];
  std::snprintf(label, sizeof label, "PostgreSQL %s, %d inserts, pipelined",
                delayMs > 0 ? (std::to_string(delayMs).substr(0, 3) + " ms each way").c_str()
                            : "direct",
                batches);
  Report(label, best, delayMs >= 1 ? "<= 0.1" : delayMs > 0 ? "-" : "<= Pipeline=no");
  Pair serialPair = best;
  serialPair.program = serialBest;
  serialPair.programCpu = serialCpu;
  std::snprintf(label, sizeof label, "PostgreSQL %s, %d inserts, Pipeline=no",
                delayMs > 0 ? (std::to_string(delayMs).substr(0, 3) + " ms each way").c_str()
                            : "direct",
                batches);
  Report(label, serialPair, "-");
  proxy.reset();
  PgValue(conninfo, "DROP DATABASE IF EXISTS vandrel_bench_remote");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: e2e_bench EXE sqlite|postgres CONNINFO|heavy CONNINFO|-|bigfile|startup|version "
                 "[sizes]\n");
    return 2;
  }
  const std::string exe = fs::absolute(argv[1]).string();
  const std::string what = argv[2];
  if (what == "sqlite") {
    BenchSqlite(exe, Arg(argv, argc, 3, 20), Arg(argv, argc, 4, 32767));
  } else if (what == "postgres" && argc > 3) {
    BenchPostgres(exe, argv[3], Arg(argv, argc, 4, 20), Arg(argv, argc, 5, 32767));
  } else if (what == "heavy" && argc > 3) {
    BenchHeavy(exe, argv[3], Arg(argv, argc, 4, 1000000));
  } else if (what == "bigfile") {
    BenchBigFile(exe, Arg(argv, argc, 3, 1024));
  } else if (what == "remote" && argc > 4) {
    BenchRemote(exe, argv[3], std::atof(argv[4]), Arg(argv, argc, 5, 2000));
  } else if (what == "startup") {
    BenchStartup(exe);
  } else if (what == "version") {
    BenchVersion(exe);
  } else {
    std::fprintf(stderr, "e2e_bench: unknown workload %s\n", what.c_str());
    return 2;
  }
  return 0;
}
