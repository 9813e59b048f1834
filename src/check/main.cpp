// vandrelsql-check [--batches] [--json] [--connect] [FOLDER]: shows what the updater would
// send from the scripts of FOLDER (by default the program's own folder), batch for batch,
// and the traps of its GO rule. Exit status: 0 nothing found, 1 findings, 2 something
// could not be read or a connection failed, 64 wrong arguments.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "check/check.h"
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
    "Uso: vandrelsql-check [--batches] [--json] [--connect] [CARPETA]\n";
constexpr const char* kHelp =
    "Muestra, sin ejecutar nada, lo que VandrelSQL enviaría a las bases de datos desde los\n"
    "scripts de CARPETA (por omisión, la carpeta del programa): los scripts en el orden en\n"
    "que se ejecutan, su entidad, los lotes en que se cortan y las trampas de la regla GO,\n"
    "como ARCHIVO:LÍNEA: warning: TEXTO.\n"
    "\n"
    "  --batches  muestra además el texto exacto de cada lote\n"
    "  --json     un documento JSON en la salida estándar en lugar del texto\n"
    "  --connect  pide a Quillmere la conexión de cada entidad, como el actualizador, abre\n"
    "             una transacción y la deshace\n"
    "  --help     muestra esta ayuda\n"
    "  --version  muestra la versión\n"
    "\n"
    "Estado de salida: 0 sin avisos; 1 con avisos (o una entidad ACCESS); 2 no se pudo leer\n"
    "la carpeta o un script, o falló una conexión; 64 argumentos no válidos.\n";

struct Options {
  bool batches = false;
  bool json = false;
  bool connect = false;
  std::string folder;
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

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool Fatal(const check::Finding& f) {
  return f.kind == "invalid-text" || f.kind == "too-many-batches" || f.kind == "nul-character";
}

void PrintScript(const check::ScriptReport& r, bool batches) {
  if (r.error.empty())
    Write(r.file + " (" + r.entity + "): " + Plural(r.batches.size(), "lote", "lotes") + "\n");
  else
    Write(r.file + " (" + r.entity + "): no se puede leer\n");
  for (const check::Finding& f : r.findings)
    Write(r.path + ":" + std::to_string(f.line) + (Fatal(f) ? ": error: " : ": warning: ") +
          OneLine(f.message) + "\n");
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
    findings.push_back({{"line", f.line}, {"kind", f.kind}, {"message", f.message}});
  json unexecuted = nullptr;
  if (r.unexecuted)
    unexecuted = {{"line", r.unexecuted->line}, {"text", std::string(r.PieceText(*r.unexecuted))}};
  return {{"file", r.file},
          {"entity", r.entity},
          {"batches", std::move(batches)},
          {"unexecuted", std::move(unexecuted)},
          {"findings", std::move(findings)},
          {"error", r.error.empty() ? json(nullptr) : json(r.error)}};
}

int Run(const Options& options) {
  check::FolderEnv env(options.folder);
  json doc = {{"folder", options.folder}, {"error", nullptr}, {"scripts", json::array()},
              {"connections", json::array()}};
  auto finish = [&](int status) {
    if (options.json)
      WriteBytes(doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
    std::fflush(stdout);
    return status;
  };

  std::vector<check::Discovered> scripts;
  try {
    scripts = check::DiscoverScripts(env);
  } catch (const std::exception& e) {
    const std::string message = Describe(e);
    doc["error"] = message;
    if (!options.json) Write(options.folder + ": error: " + OneLine(message) + "\n");
    return finish(kFailed);
  }

  int status = kNothingFound;
  std::size_t batches = 0;
  std::size_t findings = 0;
  std::vector<std::string> entities;
  if (!options.json)
    Write(scripts.empty() ? "No hay scripts en " + options.folder + "\n"
                          : "Scripts de " + options.folder + ", en el orden en que se ejecutan:\n");
  for (const check::Discovered& script : scripts) {
    if (entities.empty() || entities.back() != script.entity) entities.push_back(script.entity);
    // One script at a time: only its text is held.
    const check::ScriptReport r = check::CheckScript(env, script);
    batches += r.batches.size();
    findings += r.findings.size();
    if (!r.error.empty())
      status = kFailed;
    else if (!r.findings.empty() && status == kNothingFound)
      status = kFindings;
    if (options.json)
      doc["scripts"].push_back(ScriptJson(r));
    else
      PrintScript(r, options.batches);
  }
  if (!options.json)
    Write(Plural(scripts.size(), "script", "scripts") + ", " +
          Plural(batches, "lote", "lotes") + ", " + Plural(findings, "aviso", "avisos") + "\n");

  if (options.connect) {
    if (!options.json) Write("Conexiones:\n");
    for (const check::ConnectionReport& c : check::TryConnections(env, entities)) {
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
    } else if (!folderGiven && !arg.empty() && arg[0] != '-') {
      options.folder = arg;
      folderGiven = true;
    } else {
      std::fputs(kUsageText, stderr);
      return kUsage;
    }
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
