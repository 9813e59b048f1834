#include "shell/run_record.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <system_error>

#include "Mod_Main.h"
#include "platform/error.h"
#include "platform/locale_text.h"
#include "shell/identity.h"

namespace vandrel::shell {
namespace {

using Clock = std::chrono::steady_clock;

std::string LocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char text[64] = "";
  if (localtime_r(&now, &parts) != nullptr)
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &parts);
  return text;
}

std::string UserName() {
  const uid_t uid = geteuid();
  if (const passwd* user = getpwuid(uid); user != nullptr && user->pw_name != nullptr)
    return user->pw_name;
  return "uid " + std::to_string(uid);
}

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "?";
  return name;
}

// Seconds with a decimal comma, as the Spanish texts write them.
std::string Seconds(Clock::duration d, int decimals) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  std::string text = std::to_string(ms / 1000);
  if (decimals == 1) text += "," + std::to_string(ms % 1000 / 100);
  if (decimals == 3) {
    const std::string frac = std::to_string(1000 + ms % 1000);
    text += "," + frac.substr(1);
  }
  return text + " s";
}

// A value on one line of the record: CR LF and CR become LF, and every further line is
// indented, so that no text in it can pass for a line of the record itself.
std::string Field(const std::string& key, std::string_view value) {
  std::string out = key + ": ";
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
      out += "\n    ";
    } else {
      out += c;
    }
  }
  return out + "\n";
}

// At most `limit` bytes of UTF-8 `text`, never cutting a character in two.
std::string_view Head(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

std::string StatusText(ExitStatus status) {
  const int code = static_cast<int>(status);
  std::string why;
  switch (status) {
    case ExitStatus::Finished: why = "terminada"; break;
    case ExitStatus::Failed: why = "se informó un fallo"; break;
    case ExitStatus::Cancelled: why = "cancelada: sin conexión para una entidad"; break;
    case ExitStatus::Access: why = "detenida por una entidad ACCESS"; break;
    case ExitStatus::ClosedBeforeRun: why = "ventana cerrada antes de empezar"; break;
    default: {
      const char* name = IsInterruption(status) ? sigabbrev_np(code - 128) : nullptr;
      why = name != nullptr ? "interrumpida por la señal SIG" + std::string(name)
                            : "interrumpida";
    }
  }
  return std::to_string(code) + " (" + why + ")";
}

}  // namespace

RunRecord::RunRecord() : started_(LocalTime()), start_(Clock::now()) {
  platform::Env& env = *services.env;
  path_ = RecordPath(env);
  user_ = UserName();
  host_ = HostName();
  try {
    folder_ = env.ProgramFolder();
    config_ = platform::NativePath(RutaConfiguracion());
  } catch (const std::exception& e) {
    if (folder_.empty()) folder_ = "? (" + Describe(e) + ")";
  }
}

std::string RunRecord::OutcomeText(const Entity& e) {
  switch (e.outcome) {
    case Outcome::Committed: return "confirmada";
    case Outcome::RolledBack: return "revertida";
    default: return "no alcanzada (" + e.why + ")";
  }
}

RunRecord::Entity* RunRecord::FindEntity(const std::string& name) {
  for (Entity& e : entities_)
    if (e.name == name) return &e;
  return nullptr;
}

RunRecord::Script* RunRecord::Current() {
  return current_ == 0 ? nullptr : &scripts_[current_ - 1];
}

void RunRecord::ScriptListed(const std::string& archivo, const std::string& entidad) {
  Script script;
  script.archivo = archivo;
  script.entidad = entidad;
  scripts_.push_back(std::move(script));
  if (FindEntity(entidad) == nullptr) {
    Entity entity;
    entity.name = entidad;
    entities_.push_back(std::move(entity));
  }
}

void RunRecord::EntityTagged(const std::string& entidad, const std::string& tag) {
  if (Entity* e = FindEntity(entidad)) {
    e->tag = tag;
    e->outcome = Outcome::Connecting;
  }
}

void RunRecord::EntityDescribed(const std::string& entidad, const std::string& connection) {
  if (Entity* e = FindEntity(entidad)) e->connection = connection;
}

void RunRecord::EntityConnected(const std::string& entidad) {
  if (Entity* e = FindEntity(entidad)) e->outcome = Outcome::Open;
}

void RunRecord::EntityCommitted() {
  for (Entity& e : entities_)
    if (e.outcome == Outcome::Open) e.outcome = Outcome::Committed;
}

void RunRecord::ScriptStarted(const std::string& archivo, const std::string& path) {
  // The scripts run in list order: the next one not started yet.
  for (std::size_t k = current_; k < scripts_.size(); ++k)
    if (scripts_[k].archivo == archivo) {
      current_ = k + 1;
      break;
    }
  if (Script* s = Current(); s != nullptr && !s->started) {
    s->started = true;
    s->path = path;
    try {
      s->digesting = std::async(std::launch::async, DigestFile, platform::NativePath(path));
    } catch (const std::system_error&) {
      s->digest = DigestFile(platform::NativePath(path));  // no thread to be had
    }
    scriptStart_ = Clock::now();
  }
}

void RunRecord::BatchStarting(int64_t index, int64_t batches) {
  if (Script* s = Current()) {
    s->batches = batches;
    s->ran = index;
  }
}

void RunRecord::ScriptEnded() {
  if (Script* s = Current(); s != nullptr && !s->ended) {
    s->ended = true;
    if (s->batches > 0) s->ran = s->batches;
    s->took = Clock::now() - scriptStart_;
  }
}

void RunRecord::BatchFailed(const FailedBatch& failure) {
  if (Script* s = Current()) {
    s->failed = true;
    s->ran = failure.index;
  }
  failure_.emplace();
  failure_->script = failure.script;
  failure_->text = Head(failure.text, kRecordedBatchBytes);
  failure_->message = failure.message;
  failure_->index = failure.index;
  if (failure.place != nullptr) failure_->place = failure.place->Where();
  batchBytes_ = failure.text.size();
}

void RunRecord::BoxShown(const std::string& title, const std::string& text) {
  boxes_.emplace_back(title, text);
}

void RunRecord::Finish(ExitStatus status) {
  status_ = status;
  took_ = Clock::now() - start_;
  finished_ = LocalTime();
  // The entities stand in run order: the first one that was not reached is where the run
  // stopped, and a run stopped by ACCESS or a missing connection stopped at it.
  bool stopped = false;
  for (Entity& e : entities_) {
    if (e.outcome == Outcome::Open) e.outcome = Outcome::RolledBack;
    if (e.outcome != Outcome::NotReached && e.outcome != Outcome::Connecting) continue;
    if (!stopped && status == ExitStatus::Access)
      e.why = "etiqueta ACCESS: la actualización se detuvo aquí";
    else if (!stopped && status == ExitStatus::Cancelled)
      e.why = "sin conexión: la actualización se canceló aquí";
    else
      e.why = "la actualización terminó antes";
    e.outcome = Outcome::NotReached;
    stopped = true;
  }
  // Scripts may have been changed, or not reached at all: what was there at the end.
  for (Script& s : scripts_) {
    if (s.digesting.valid()) s.digest = s.digesting.get();
  }
  for (Script& s : scripts_)
    if (!s.started) {
      RegistroScript registro{s.archivo, s.entidad};
      try {
        s.path = RutaScript(registro);
        s.digest = DigestFile(platform::NativePath(s.path));
      } catch (const std::exception&) {
      }
    }
}

std::string RunRecord::Text() const {
  std::string t = "==== " + std::string(identity::kProductName) + " " + identity::VersionText() +
                  ": ejecución del " + started_ + "\n";
  t += Field("usuario", user_) + Field("equipo", host_) + Field("carpeta", folder_) +
       Field("configuración", config_);
  for (const Entity& e : entities_) {
    std::string value = OutcomeText(e);
    if (!e.tag.empty()) value += "; etiqueta " + e.tag;
    if (!e.connection.empty()) value += "; conexión " + e.connection;
    t += Field("entidad " + e.name, value);
  }
  for (const Script& s : scripts_) {
    std::string value;
    if (s.digest)
      value = std::to_string(s.digest->size) + " bytes, sha256 " + s.digest->sha256;
    else
      value = "no se pudo leer";
    if (!s.started)
      value += ", no ejecutado";
    else
      value += ", " + std::to_string(s.ran) + " de " + std::to_string(s.batches) + " lotes, " +
               (s.failed ? std::string("fallido") : Seconds(s.took, 3));
    t += Field("script " + s.archivo, value);
  }
  for (const auto& [title, text] : boxes_) t += Field("mensaje \"" + title + "\"", text);
  if (failure_) {
    t += Field("lote fallido", failure_->script + ", lote " + std::to_string(failure_->index));
    t += Field("lugar", failure_->place.value_or("desconocido"));
    t += Field("error", failure_->message);
    std::string head = "--- lote, " + std::to_string(batchBytes_) + " bytes";
    if (batchBytes_ > failure_->text.size())
      head += "; aquí los primeros " + std::to_string(failure_->text.size());
    t += head + "\n" + failure_->text;
    if (!failure_->text.empty() && failure_->text.back() != '\n') t += "\n";
    t += "--- fin del lote\n";
  }
  if (status_) t += Field("salida", StatusText(*status_));
  t += Field("fin", finished_ + " (" + Seconds(took_, 3) + ")");
  return t;
}

std::string RunRecord::Summary() const {
  std::string t = "Resumen:\n";
  if (scripts_.empty()) t += "  Ningún script que ejecutar\n";
  for (const Entity& e : entities_) {
    t += "  " + e.name + ": " + OutcomeText(e) + "\n";
  }
  int64_t ran = 0, batches = 0;
  for (const Script& s : scripts_) {
    if (s.ended && !s.failed) ++ran;
    batches += s.ran;
  }
  if (!scripts_.empty())
    t += "  Scripts: " + std::to_string(ran) + " de " + std::to_string(scripts_.size()) +
       " ejecutados; lotes: " + std::to_string(batches) + "; tiempo: " + Seconds(took_, 1) +
       "\n";
  t += "  Registro: " + (path_.empty() ? std::string("ninguno") : path_) + "\n";
  return t;
}

bool RunRecord::Write(FILE* err) {
  try {
    if (path_.empty()) throw Error("ni XDG_STATE_HOME ni HOME dicen dónde guardarlo");
    AppendRecord(path_, Text());
    return true;
  } catch (const std::exception& e) {
    const std::string line = platform::ToLocaleText(
        "vandrelsql: no se pudo escribir el registro de la ejecución: " + Describe(e) + "\n");
    std::fwrite(line.data(), 1, line.size(), err);
    std::fflush(err);
    return false;
  }
}

void RecordedDesktop::ShowBox(const std::string& prompt, int style, const std::string& title) {
  record_.BoxShown(title, prompt);
  target_.MsgBox(prompt, style, title);
}

void RecordedDesktop::ShowBoxWithBatch(const std::string& prompt, std::size_t batch_at, int style,
                                       const std::string& title,
                                       const std::optional<FailurePlace>& place) {
  record_.BoxShown(title, prompt.substr(0, batch_at));
  target_.MsgBoxWithBatch(prompt, batch_at, style, title, place);
}

}  // namespace vandrel::shell
