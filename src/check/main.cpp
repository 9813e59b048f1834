// vandrelsql-check [--batches] [--json] [--connect] [--rehearse [--junit FILE]]
// [FOLDER | FILE]: shows what the updater would send from the scripts of FOLDER (by default
// the program's own folder), or from the one script FILE as it would run in its folder,
// batch for batch, and what will fail or is probably not meant; --rehearse runs them twice
// and rolls back. Exit status: 0 nothing found but notes, 1 errors or warnings, 2 something
// could not be read or a connection failed, 64 wrong arguments; with --rehearse, the
// rehearsal's.
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "Mod_Main.h"
#include "check/check.h"
#include "check/rehearsal.h"
#include "check/rehearsal_report.h"
#include "execution/progress_line.h"
#include "platform/error.h"
#include "platform/locale_text.h"
#include "platform/text_file.h"
#include "quillmere/quillmere.h"
#include "shell/identity.h"

namespace {

using namespace vandrel;
// Keys in the order the document is read: file, entity, batches, ...
using json = nlohmann::ordered_json;

constexpr int kNothingFound = 0;
constexpr int kFindings = 1;
constexpr int kFailed = 2;
constexpr int kUsage = 64;

constexpr const char* kUsageText =
    "Uso: vandrelsql-check [--batches] [--json] [--connect] [--rehearse [--junit ARCHIVO]] "
    "[CARPETA | ARCHIVO]\n";
constexpr const char* kHelp =
    "Muestra, sin ejecutar nada, lo que VandrelSQL enviaría a las bases de datos desde los\n"
    "scripts de CARPETA (por omisión, la carpeta del programa): los scripts en el orden en\n"
    "que se ejecutan, su entidad, los lotes en que se cortan, lo que fallará y lo que\n"
    "probablemente no es lo que se quería, como ARCHIVO:LÍNEA: error|warning|note: TEXTO.\n"
    "Con ARCHIVO, solo ese script, como se ejecutaría en su carpeta.\n"
    "\n"
    "  --batches  muestra además el texto exacto de cada lote\n"
    "  --json     un documento JSON en la salida estándar en lugar del texto\n"
    "  --connect  pide a Quillmere la conexión de cada entidad, como el actualizador, abre\n"
    "             una transacción y la deshace\n"
    "  --rehearse ensaya la actualización: ejecuta los scripts de cada entidad dos veces, como\n"
    "             dos arranques, con las rutinas del actualizador, y al final lo deshace todo;\n"
    "             nunca confirma (un lote que termina la transacción detiene el ensayo de su\n"
    "             entidad); solo SQLite, PostgreSQL y Microsoft SQL Server\n"
    "  --junit ARCHIVO  con --rehearse, escribe además el resultado como JUnit XML\n"
    "  --help     muestra esta ayuda\n"
    "  --version  muestra la versión\n"
    "\n"
    "Estado de salida: 0 sin avisos, o solo notas; 1 con errores o advertencias (o una\n"
    "entidad ACCESS); 2 no se pudo leer la carpeta o un script, o falló una conexión; 64\n"
    "argumentos no válidos.\n"
    "\n"
    "Con --rehearse, el del ensayo (los avisos no cuentan): 0 cada entidad superada dos veces;\n"
    "1 falló un lote (en la primera o en la segunda ejecución): la actualización fallará;\n"
    "2 no se pudo obtener una conexión, la configuración o un script; 3 no probado (un lote\n"
    "termina la transacción, un motor no admitido, una entidad ACCESS).\n";

struct Options {
  bool batches = false;
  bool json = false;
  bool connect = false;
  bool rehearse = false;
  std::string junit;
  std::string folder;
  std::string file;  // only this script of the folder, when given
};

// Human output in the locale's codeset, as the updater's console writes; JSON is UTF-8.
void WriteBytes(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }
void Write(const std::string& s) { WriteBytes(platform::ToLocaleText(s)); }

// A report of the updater on one line, as editors read messages.
std::string OneLine(std::string s) {
  for (std::size_t i = s.find("\r\n"); i != std::string::npos; i = s.find("\r\n", i))
    s.replace(i, 2, " ");
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

// `text` as the whole content of `path`; false with errno set when it cannot be written.
bool WriteFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int err = errno;
  if (std::fclose(f) != 0 || !written) {
    if (!written) errno = err;
    return false;
  }
  return true;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Errors and warnings make the exit status 1; notes alone do not.
bool Counts(const check::Finding& f) { return f.severity != "note"; }

void PrintScript(const check::ScriptReport& r, bool batches) {
  if (r.error.empty())
    Write(r.file + " (" + r.entity + "): " + Plural(r.batches.size(), "lote", "lotes") + "\n");
  else
    Write(r.file + " (" + r.entity + "): no se puede leer\n");
  for (const check::Finding& f : r.findings)
    Write(r.path + ":" + std::to_string(f.line) + ": " + f.severity + ": " + OneLine(f.message) +
          "\n");
  if (!r.error.empty() && r.findings.empty()) Write(r.path + ": error: " + OneLine(r.error) + "\n");
  if (!batches) return;
  for (std::size_t i = 0; i < r.batches.size(); ++i) {
    Write("--- lote " + std::to_string(i) + ", línea " + std::to_string(r.batches[i].line) + " ---\n");
    Write(r.BatchText(i));
  }
  if (r.unexecuted) {
    Write("--- no se ejecuta, línea " + std::to_string(r.unexecuted->line) + " ---\n");
    const std::string_view text = r.PieceText(*r.unexecuted);
    Write(std::string(text) + (text.ends_with('\n') ? "" : "\n"));
  }
}

json ScriptJson(const check::ScriptReport& r) {
  json batches = json::array();
  platform::ReadTextPlaces places(r.text);
  for (std::size_t i = 0; i < r.batches.size(); ++i) {
    const check::Piece& p = r.batches[i];
    // A batch after a GO line begins after it, unless text follows the GO on that line.
    std::size_t first = p.offset;
    const std::string_view piece = r.PieceText(p);
    if (i > 0) first += piece.starts_with("\r\n") ? 2 : piece.starts_with('\n') ? 1 : 0;
    const uint64_t firstLine = places.At(first).line;
    batches.push_back({{"index", i},
                       {"line", p.line},
                       {"first_line", firstLine},
                       {"last_line", std::max(firstLine, places.At(p.offset + p.length).line)},
                       {"text", r.BatchText(i)}});
  }
  json findings = json::array();
  for (const check::Finding& f : r.findings)
    findings.push_back(
        {{"line", f.line}, {"kind", f.kind}, {"severity", f.severity}, {"message", f.message}});
  json unexecuted = nullptr;
  if (r.unexecuted)
    unexecuted = {{"line", r.unexecuted->line}, {"text", std::string(r.PieceText(*r.unexecuted))}};
  return {{"file", r.file},
          {"path", r.path},
          {"entity", r.entity},
          {"batches", std::move(batches)},
          {"unexecuted", std::move(unexecuted)},
          {"findings", std::move(findings)},
          {"error", r.error.empty() ? json(nullptr) : json(r.error)}};
}

int Run(const Options& options) {
  check::FolderEnv env(options.folder);
  json doc = {{"folder", options.folder}, {"error", nullptr}, {"scripts", json::array()},
              {"not_run", json::array()}, {"connections", json::array()}};
  auto finish = [&](int status) {
    if (options.json)
      WriteBytes(doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
    std::fflush(stdout);
    return status;
  };

  std::vector<check::Discovered> scripts;
  std::vector<check::NotRun> notRun;
  try {
    scripts = check::DiscoverScripts(env);
    notRun = check::FilesNotRun(env, scripts, options.file);
  } catch (const std::exception& e) {
    const std::string message = Describe(e);
    doc["error"] = message;
    if (!options.json) Write(options.folder + ": error: " + OneLine(message) + "\n");
    return finish(kFailed);
  }
  if (!options.file.empty()) {
    std::erase_if(scripts, [&](const check::Discovered& d) { return d.file != options.file; });
  }

  int status = kNothingFound;
  std::size_t batches = 0;
  std::size_t findings = 0;
  std::vector<std::string> entities;
  if (!options.json)
    Write(scripts.empty() ? "No hay scripts en " + options.folder + "\n"
                          : "Scripts de " + options.folder + ", en el orden en que se ejecutan:\n");
  for (const check::Discovered& script : scripts)
    if (entities.empty() || entities.back() != script.entity) entities.push_back(script.entity);
  // Connected first: where the Tag does not name the engine (ODBC), the connection does.
  std::vector<check::ConnectionReport> connections;
  if (options.connect) connections = check::TryConnections(env, entities);
  auto engineOf = [&](const std::string& entity) {
    check::Engine engine = check::EngineOf(env, entity);
    for (const check::ConnectionReport& c : connections)
      if (engine == check::Engine::Any && c.entity == entity) engine = c.engine;
    return engine;
  };
  check::Engine engine = check::Engine::Any;
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    const check::Discovered& script = scripts[i];
    if (i == 0 || scripts[i - 1].entity != script.entity) engine = engineOf(script.entity);
    // One script at a time: only its text is held.
    const check::ScriptReport r = check::CheckScript(env, script, engine);
    batches += r.batches.size();
    findings += r.findings.size();
    if (!r.error.empty())
      status = kFailed;
    else if (std::any_of(r.findings.begin(), r.findings.end(), Counts) && status == kNothingFound)
      status = kFindings;
    if (options.json)
      doc["scripts"].push_back(ScriptJson(r));
    else
      PrintScript(r, options.batches);
  }
  for (const check::NotRun& n : notRun) {
    ++findings;
    if (status == kNothingFound) status = kFindings;
    const check::Finding& f = n.finding;
    if (options.json)
      doc["not_run"].push_back({{"file", n.file},
                                {"path", n.path},
                                {"kind", f.kind},
                                {"severity", f.severity},
                                {"message", f.message}});
    else
      Write(n.path + ": " + f.severity + ": " + OneLine(f.message) + "\n");
  }
  if (!options.json)
    Write(Plural(scripts.size(), "script", "scripts") + ", " +
          Plural(batches, "lote", "lotes") + ", " + Plural(findings, "aviso", "avisos") + "\n");

  if (options.connect) {
    if (!options.json) Write("Conexiones:\n");
    for (const check::ConnectionReport& c : connections) {
      if (c.status == "error")
        status = kFailed;
      else if (c.status == "ACCESS" && status == kNothingFound)
        status = kFindings;
      doc["connections"].push_back({{"entity", c.entity},
                                    {"status", c.status},
                                    {"message", c.message.empty() ? json(nullptr) : json(c.message)}});
      if (options.json) continue;
      if (c.status == "ok")
        Write("  " + c.entity + ": ok\n");
      else if (c.status == "ACCESS")
        Write("  " + c.entity + ": ACCESS (el actualizador se detiene al llegar a esta entidad)\n");
      else
        Write("  " + c.entity + ": error: " + OneLine(c.message) + "\n");
    }
  }
  if (options.rehearse) {
    ProgressLine progress(STDERR_FILENO);
    services.events.push_back(&progress);
    const check::Rehearsal rehearsal = check::Rehearse(env, scripts);
    progress.Erase();
    std::erase(services.events, &progress);
    status = rehearsal.Status();
    doc["rehearsal"] = check::RehearsalJson(rehearsal);
    if (!options.json) Write(check::RehearsalText(rehearsal));
    if (!options.junit.empty() && !WriteFile(options.junit, check::RehearsalJunit(rehearsal))) {
      std::fprintf(stderr, "vandrelsql-check: no se puede escribir %s: %s\n", options.junit.c_str(),
                   std::strerror(errno));
      if (status == 0) status = kFailed;
    }
  }
  return finish(status);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  Options options;
  bool folderGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      Write(std::string(kUsageText) + "\n" + kHelp);
      return 0;
    }
    if (arg == "--version") {
      Write("vandrelsql-check " + identity::VersionText() + "\n");
      return 0;
    }
    if (arg == "--batches") {
      options.batches = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--connect") {
      options.connect = true;
    } else if (arg == "--rehearse") {
      options.rehearse = true;
    } else if (arg == "--junit" && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.junit = argv[++i];
    } else if (!folderGiven && !arg.empty() && arg[0] != '-') {
      options.folder = arg;
      folderGiven = true;
      // A script: checked as the updater would run it in its folder.
      std::error_code ec;
      if (std::filesystem::is_regular_file(arg, ec)) {
        const std::filesystem::path file(arg);
        options.file = file.filename().string();
        options.folder = file.has_parent_path() ? file.parent_path().string() : ".";
      }
    } else {
      std::fputs(kUsageText, stderr);
      return kUsage;
    }
  }
  if (!options.junit.empty() && !options.rehearse) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  try {
    if (!folderGiven) options.folder = platform::Env::Default()->ProgramFolder();
    // Paths in the output read as FOLDER/FILE.
    while (options.folder.size() > 1 && options.folder.back() == '/') options.folder.pop_back();
    quillmere::Register();
    return Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrelsql-check: %s\n", Describe(e).c_str());
    return kFailed;
  }
}
