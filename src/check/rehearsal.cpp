#include "check/rehearsal.h"

#include <chrono>
#include <memory>

#include "Mod_Main.h"
#include "check/borrowed_module.h"
#include "execution/current.h"
#include "execution/script_run.h"
#include "platform/ado/rehearsal.h"
#include "platform/error.h"
#include "shell/program_end.h"

namespace vandrel::check {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One transaction of the rehearsal: every entity on its database shares it.
struct Transaction {
  ado::ConnectionPtr connection;
  ado::Rehearsable* rehearsable;
  std::string key;
  std::vector<std::size_t> entities;  // indexes into Rehearsal::entities, in run order
  std::string brokenBy;               // the entity that stopped in it
};

// Counts the rows each batch changed.
class BatchCounter final : public ObservadorDeLotes {
 public:
  BatchCounter(ado::Rehearsable& connection, ScriptRun& run) : connection_(connection), run_(run) {}
  void AntesDelLote(int64_t, int64_t) override { before_ = connection_.RowsChanged(); }
  void DespuesDelLote(int64_t) override {
    const auto after = connection_.RowsChanged();
    run_.rows.push_back(before_ && after ? std::optional<int64_t>(*after - *before_) : std::nullopt);
  }

 private:
  ado::Rehearsable& connection_;
  ScriptRun& run_;
  std::optional<int64_t> before_;
};

class Rehearser {
 public:
  Rehearser(platform::Env& env, const std::vector<Discovered>& scripts) : env_(env) {
    for (const Discovered& d : scripts) {
      if (result_.entities.empty() || result_.entities.back().entity != d.entity) {
        result_.entities.emplace_back();
        result_.entities.back().entity = d.entity;
        of_.push_back(kNone);
      }
      result_.entities.back().scripts.push_back({d.file, Outcome::NotRehearsed, {}});
    }
  }

  Rehearsal Run() {
    KeptBoxes boxes;
    Borrowed module(&env_, &boxes);
    try {
      for (std::size_t e = 0; e < result_.entities.size(); ++e) First(e, boxes);
      for (std::size_t e = 0; e < result_.entities.size(); ++e) Second(e);
      for (Transaction& t : transactions_) CheckCommit(t);
    } catch (...) {
      RollBackAll();
      throw;
    }
    RollBackAll();
    for (EntityRehearsal& entity : result_.entities) Conclude(entity);
    return std::move(result_);
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // The first run of entity `e`: its connection asked for as the updater asks it, then its
  // transaction begun as the updater begins it, or the one of its database joined.
  void First(std::size_t index, KeptBoxes& boxes) {
    EntityRehearsal& entity = result_.entities[index];
    const Clock::time_point start = Clock::now();
    boxes.last.clear();
    std::string asked = entity.entity;
    bool ok = false;
    try {
      ok = EstablecerEntidad(asked);
    } catch (const ProgramEnd& end) {
      if (end.status == ExitStatus::Access) {
        entity.outcome = Outcome::NotProven;
        entity.reason = "la entidad tiene la etiqueta ACCESS: la actualización real se detiene al "
                        "llegar a ella";
        return;
      }
      entity.reason = boxes.last;
    } catch (const std::exception& e) {
      entity.reason = Describe(e);
    }
    if (!ok) {
      if (entity.reason.empty()) {
        // The report ends with the entity asked for and where the routine failed.
        entity.reason = boxes.last.substr(0, boxes.last.rfind("Entidad buscada:" + entity.entity));
        while (!entity.reason.empty() && (entity.reason.back() == '\n' || entity.reason.back() == '\r'))
          entity.reason.pop_back();
      }
      entity.outcome = Outcome::NotRehearsed;
      entity.unreadable = true;
      return;
    }
    auto* rehearsable = dynamic_cast<ado::Rehearsable*>(ConexionActual.get());
    entity.engine = rehearsable != nullptr ? rehearsable->Engine() : "?";
    if (rehearsable == nullptr || !EngineRehearsable(entity.engine)) {
      ConexionActual.reset();
      ComandoActual->ActiveConnection.reset();
      entity.outcome = Outcome::NotProven;
      entity.reason = "motor no admitido en el ensayo: " + entity.engine +
                      " (solo SQLite, PostgreSQL y Microsoft SQL Server por ODBC deshacen todo lo "
                      "que hace un script; otros confirman cada sentencia DDL por sí solos)";
      return;
    }
    const std::string key = rehearsable->DatabaseKey();
    Transaction* shared = nullptr;
    for (Transaction& t : transactions_)
      if (t.key == key) shared = &t;
    if (shared != nullptr) {
      ConexionActual = shared->connection;
      ComandoActual->ActiveConnection = ConexionActual;
      entity.sharesWith = result_.entities[shared->entities.front()].entity;
    } else {
      try {
        rehearsable->ForbidCommit();
        Conexion().BeginTrans();
        Comando().CommandType = ado::adCmdText;
      } catch (const std::exception& e) {
        entity.outcome = Outcome::NotRehearsed;
        entity.unreadable = true;
        entity.reason = Describe(e);
        ConexionActual.reset();
        ComandoActual->ActiveConnection.reset();
        return;
      }
      transactions_.push_back({ConexionActual, rehearsable, key, {}, {}});
      shared = &transactions_.back();
    }
    of_[index] = static_cast<std::size_t>(shared - transactions_.data());
    shared->entities.push_back(index);
    if (!shared->brokenBy.empty()) {
      entity.reason = NotRehearsedBecause(shared->brokenBy, 1);
    } else if (!RunScripts(entity, 1)) {
      shared->brokenBy = entity.entity;
    }
    entity.seconds += Since(start);
    ConexionActual.reset();
  }

  // The second run, as the next start would make it, for each entity whose first run passed.
  void Second(std::size_t e) {
    EntityRehearsal& entity = result_.entities[e];
    if (of_[e] == kNone || entity.stop || !entity.reason.empty()) return;
    Transaction& t = transactions_[of_[e]];
    if (!t.brokenBy.empty()) {
      entity.reason = NotRehearsedBecause(t.brokenBy, 2);
      return;
    }
    const Clock::time_point start = Clock::now();
    ConexionActual = t.connection;
    ComandoActual->ActiveConnection = ConexionActual;
    if (!RunScripts(entity, 2)) t.brokenBy = entity.entity;
    entity.seconds += Since(start);
    ConexionActual.reset();
  }

  static std::string NotRehearsedBecause(const std::string& other, int run) {
    return std::string("no se ensaya") + (run == 2 ? " la segunda ejecución" : "") +
           ": la entidad " + other + " se detuvo antes en la misma base de datos";
  }

  // Runs the entity's scripts in order; false when one stopped.
  bool RunScripts(EntityRehearsal& entity, int run) {
    auto& rehearsable = *dynamic_cast<ado::Rehearsable*>(ConexionActual.get());
    for (ScriptRehearsal& script : entity.scripts) {
      ScriptRun& r = script.runs[static_cast<std::size_t>(run - 1)];
      r.ran = true;
      const Clock::time_point start = Clock::now();
      const RegistroScript registro{script.file, entity.entity};
      BatchCounter counter(rehearsable, r);
      CorridaDeScript corrida;
      LineLabel line;
      TextoScript.clear();
      std::optional<Outcome> stopped;
      std::string message;
      try {
        EjecutarLotes(registro, corrida, line, &counter);
      } catch (const ado::TransactionEndRefused& e) {
        stopped = Outcome::NotProven;
        message = e.Description();
      } catch (const std::exception& e) {
        stopped = Outcome::Failed;
        message = Describe(e);
        // Opening and reading come before anything runs.
        entity.unreadable = line.current() <= 30 && !corrida.lugar;
      }
      Notify(&RunEvents::ScriptEnded);
      r.seconds = Since(start);
      r.outcome = stopped.value_or(Outcome::Passed);
      if (stopped) {
        Stop stop;
        stop.script = script.file;
        stop.path = platform::NativePath(env_.ProgramFolder()) + "/" + script.file;
        stop.run = run;
        stop.batch = corrida.IndiceLote;
        stop.batchText = corrida.TextoLote;
        stop.message = message;
        stop.place = LugarDeLaCorrida(registro, corrida, message);
        if (stop.place) stop.path = stop.place->path;
        entity.stop = std::move(stop);
        entity.outcome = *stopped;
      }
      TextoScript.clear();
      if (stopped) return false;
    }
    return true;
  }

  // What the commit of `t` would check, before it is rolled back: a failure belongs to the
  // last entity that ran in it, whose commit the real run would have made.
  void CheckCommit(Transaction& t) {
    if (!t.brokenBy.empty()) return;
    try {
      t.rehearsable->CheckAsCommitWould();
    } catch (const std::exception& e) {
      EntityRehearsal& last = result_.entities[t.entities.back()];
      Stop stop;
      stop.run = 2;
      stop.message = Describe(e);
      last.stop = std::move(stop);
      last.outcome = Outcome::Failed;
      last.reason = "falla al confirmar";
      // The real run commits each entity apart: which one's commit would fail is not known.
      for (std::size_t i = 0; i + 1 < t.entities.size(); ++i)
        last.reason += (i == 0 ? " la transacción que comparte con " : ", ") +
                       result_.entities[t.entities[i]].entity;
    }
  }

  void RollBackAll() noexcept {
    ConexionActual.reset();
    for (Transaction& t : transactions_) try {
        t.connection->RollbackTrans();
      } catch (...) {
        // Releasing the connection rolls back too; it never commits.
      }
    transactions_.clear();
  }

  static void Conclude(EntityRehearsal& entity) {
    for (ScriptRehearsal& s : entity.scripts) {
      const ScriptRun& a = s.runs[0];
      const ScriptRun& b = s.runs[1];
      if (!a.ran) s.outcome = Outcome::NotRehearsed;
      else if (a.outcome != Outcome::Passed) s.outcome = a.outcome;
      else if (!b.ran) s.outcome = Outcome::NotRehearsed;
      else s.outcome = b.outcome;
    }
    if (entity.stop) {
      if (entity.reason.empty())
        entity.reason = entity.outcome == Outcome::NotProven ? entity.stop->message
                        : entity.stop->run == 2             ? "falla en la segunda ejecución"
                                                            : "falla en la primera ejecución";
      return;
    }
    if (entity.reason.empty()) entity.outcome = Outcome::Passed;
  }

  platform::Env& env_;
  Rehearsal result_;
  std::vector<std::size_t> of_;  // each entity's transaction, kNone when it has none
  std::vector<Transaction> transactions_;
};

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Passed: return "passed";
    case Outcome::Failed: return "failed";
    case Outcome::NotProven: return "not-proven";
    case Outcome::NotRehearsed: break;
  }
  return "not-rehearsed";
}

int Rehearsal::Status() const {
  int status = 0;
  auto take = [&](int s) {
    // 1 before 2 before 3: the first that applies.
    if (status == 0 || s < status) status = s;
  };
  for (const EntityRehearsal& e : entities) {
    if (e.unreadable) take(2);
    else if (e.outcome == Outcome::Failed) take(1);
    else if (e.outcome == Outcome::NotProven) take(3);
  }
  return status;
}

bool EngineRehearsable(const std::string& engine) {
  return engine == "SQLite" || engine == "PostgreSQL" || engine == "PostgreSQL (ODBC)" ||
         engine == "Microsoft SQL Server (ODBC)";
}

Rehearsal Rehearse(platform::Env& env, const std::vector<Discovered>& scripts) {
  return Rehearser(env, scripts).Run();
}

}  // namespace vandrel::check
