// The built program killed (SIGKILL) at random moments of a multi-entity run, several
// copies at once: after each kill every entity holds all of a run's work or none of the
// new run's, the SQLite files are sound, and the next run on the same folder succeeds.
// VANDREL_LONG_TESTS=1 raises the number of kills from 60 to 1,000.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <random>

#include "stress/workload.h"

namespace vandrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

struct Tally {
  std::atomic<int> killed{0};        // ended by the signal in the middle of the run
  std::atomic<int> finishedFirst{0};  // the run was over before the kill landed
  std::atomic<int> between{0};       // some entities committed, others not
  std::mutex m;
  std::vector<std::string> failures;
  void Fail(std::string f) {
    std::lock_guard<std::mutex> lock(m);
    failures.push_back(std::move(f));
  }
};

// Waits until the program shows its list (the run has begun) or has ended.
void RunBegins(const Program& vandrel, pid_t pid) {
  WaitFor([&] { return Program::Ended(pid) || vandrel.OutputSoFar().find("Buscando") != std::string::npos; },
          std::chrono::microseconds(500));
}

void Worker(int id, int kills, bool server, Tally& tally) {
  std::unique_ptr<PgDatabase> pg;
  if (server) pg = std::make_unique<PgDatabase>();
  Workload work(pg.get(), 2, 12, 8);
  Program vandrel(VANDREL_EXE, work.program.path());
  std::mt19937 random(1000 + static_cast<unsigned>(id));
  const std::string where = "worker " + std::to_string(id) + ": ";

  // Each kill's moment is drawn from how long the undisturbed runs just before it lasted,
  // from their list being shown to their end: from the first four fifths of the shortest
  // of the last three, so that a run quicker than those (the machine's load changes) is
  // still killed while it works.
  std::deque<Clock::duration> lengths;
  int run = 0;
  const auto Undisturbed = [&]() -> std::string {
    work.WriteScripts(++run);
    const pid_t pid = vandrel.Start(work.programFiles.str());
    RunBegins(vandrel, pid);
    const auto began = Clock::now();
    const Outcome o = vandrel.Wait(pid);
    lengths.push_back(Clock::now() - began);
    if (lengths.size() > 3) lengths.pop_front();
    if (o.exit != 0) return "run " + std::to_string(run) + " ended with " + std::to_string(o.exit) + ": " + o.err;
    if (auto p = work.Check(run, true); !p.empty()) return p;
    return SecretShown(o.out + o.err, work.secrets());
  };
  // The first run of all starts with every other copy's: it does not count.
  for (int i = 0; i < 2; ++i)
    if (auto p = Undisturbed(); !p.empty()) return tally.Fail(where + "before the kills: " + p);
  lengths.pop_front();

  // A kill that lands after the run has ended kills nothing: it is done again, so that
  // `kills` runs are killed while they work; a program that keeps ending before its kill
  // fails the test.
  for (int landed = 0, tries = 0; landed < kills; ++tries) {
    if (tries == 3 * kills)
      return tally.Fail(where + "only " + std::to_string(landed) + " of " + std::to_string(tries) +
                        " kills landed before the run had ended");
    work.WriteScripts(++run);
    const auto shortest = *std::min_element(lengths.begin(), lengths.end());
    std::uniform_int_distribution<long> at(0, std::chrono::duration_cast<std::chrono::microseconds>(shortest).count() * 4 / 5);
    const pid_t pid = vandrel.Start(work.programFiles.str());
    RunBegins(vandrel, pid);
    std::this_thread::sleep_for(std::chrono::microseconds(at(random)));
    kill(pid, SIGKILL);
    const Outcome o = vandrel.Wait(pid);
    work.WaitForServer();
    const bool finished = o.signal == 0;
    if (finished && o.exit != 0) return tally.Fail(where + "run " + std::to_string(run) + " failed: " + o.err);
    if (auto p = work.Check(run, finished); !p.empty())
      return tally.Fail(where + "after the kill of run " + std::to_string(run) + ": " + p);
    (finished ? tally.finishedFirst : tally.killed)++;
    landed += !finished;
    if (work.Committed(run) > 0 && work.Committed(run) < 4) tally.between++;

    // The next run on the same folder, left alone.
    if (auto p = Undisturbed(); !p.empty()) return tally.Fail(where + "after a kill: " + p);
  }
}

TEST(KillTest, EveryEntityAllOrNothingAfterSigkill) {
  const bool server = !TestServer().empty();
  const int workers = LongTests() ? 10 : 15;
  const int each = LongTests() ? 100 : 4;
  Tally tally;
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w)
    threads.emplace_back([&, w] {
      try {
        Worker(w, each, server, tally);
      } catch (const std::exception& e) {
        tally.Fail("worker " + std::to_string(w) + ": " + e.what());
      }
    });
  for (auto& t : threads) t.join();
  for (const auto& f : tally.failures) ADD_FAILURE() << f;
  EXPECT_EQ(tally.killed, workers * each);
  std::printf("kills: %d landed during the run (%d between two entities' commits), %d more after it had "
              "finished and were done again; %s\n",
              tally.killed.load(), tally.between.load(), tally.finishedFirst.load(),
              server ? "SQLite and PostgreSQL" : "SQLite only (VANDREL_TEST_PG unset)");
}

}  // namespace
}  // namespace vandrel::testing
