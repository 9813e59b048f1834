#include "check/check.h"
#include "check/borrowed_module.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "Mod_Main.h"
#include "execution/script_batches.h"
#include "platform/ado/engine_error.h"
#include "platform/ado/pg_text.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "shell/program_end.h"

namespace vandrel::check {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool WordByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x80 || u == '_' || (u >= '0' && u <= '9') || ((u | 0x20) >= 'a' && (u | 0x20) <= 'z');
}
char Lower(char c) { return platform::AsciiLower(c); }

std::size_t FirstNonBlank(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i)
    if (!Blank(s[i])) return i;
  return std::string_view::npos;
}

// «text», blanks trimmed, at most 40 bytes of it (never cutting a UTF-8 sequence).
std::string Quoted(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  std::string out = "«";
  if (s.size() <= 40) return out.append(s).append("»");
  std::size_t n = 40;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return out.append(s.substr(0, n)).append("…»");
}

// Editor line numbers of positions in the text as read. Reading writes every line end
// (CR LF, CR) as CR LF and keeps a lone LF, and normalising the separators only puts a CR
// before an LF, so each line end an editor sees is exactly one LF of the text.
class Lines {
 public:
  explicit Lines(std::string_view t) {
    for (std::size_t i = t.find('\n'); i != std::string_view::npos; i = t.find('\n', i + 1))
      ends_.push_back(i);
  }
  int64_t At(std::size_t pos) const {
    return 1 + (std::lower_bound(ends_.begin(), ends_.end(), pos) - ends_.begin());
  }
  const std::vector<std::size_t>& ends() const { return ends_; }

 private:
  std::vector<std::size_t> ends_;
};

// The line ends of the file as written, which reading makes all alike.
enum EndKind { kCrLf, kLf, kCr };
constexpr std::array<const char*, 3> kEndNames{"CR LF", "LF", "CR"};

struct LineEnds {
  std::array<uint64_t, 3> count{};
  std::array<int64_t, 3> first{};  // the first line that ends so
};

// Scans the file's bytes; the line ends are ASCII in every codeset a locale reads.
LineEnds ScanLineEnds(const std::string& path) {
  LineEnds ends;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ends;
  int64_t line = 1;
  bool cr = false;
  auto end = [&](EndKind k) {
    if (ends.count[k]++ == 0) ends.first[k] = line;
    ++line;
  };
  std::array<char, 1 << 16> buf;
  for (;;) {
    const ssize_t got = ::read(fd, buf.data(), buf.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      const char c = buf[static_cast<std::size_t>(i)];
      if (cr) {
        cr = false;
        if (c == '\n') {
          end(kCrLf);
          continue;
        }
        end(kCr);
      }
      if (c == '\r')
        cr = true;
      else if (c == '\n')
        end(kLf);
    }
  }
  if (cr) end(kCr);
  ::close(fd);
  return ends;
}

void Add(ScriptReport& r, int64_t line, const char* kind, std::string message) {
  r.findings.push_back({line, kind, std::move(message)});
}

void FindTraps(ScriptReport& r, const std::vector<std::string_view>& pieces, const LineEnds& ends) {
  const std::string_view t = r.text;
  const Lines lines(t);
  std::vector<std::size_t> starts;
  for (const std::string_view p : pieces) starts.push_back(static_cast<std::size_t>(p.data() - t.data()));
  const std::size_t k = pieces.empty() ? 0 : pieces.size() - 1;  // the batches that run
  for (std::size_t i = 0; i < k; ++i)
    r.batches.push_back({starts[i], pieces[i].size(), lines.At(starts[i])});

  // Refused by the drivers before the engine sees it, so the run fails at this batch.
  for (std::size_t i = 0; i < k; ++i) {
    try {
      ado::NeedsEngine(pieces[i]);
    } catch (const TextError& e) {
      Add(r, lines.At(starts[i] + e.offset), "nul-character",
          "el lote " + std::to_string(i) + " fallará: " + e.Description());
    }
  }

  // Where a position's text goes: into the batch that holds it, or nowhere.
  auto where = [&](std::size_t pos) {
    const std::size_t i = static_cast<std::size_t>(
        std::upper_bound(starts.begin(), starts.end(), pos) - starts.begin() - 1);
    if (i < k) return "lote " + std::to_string(i);
    return std::string(k == 0 ? "texto del script, que no se ejecuta"
                              : "texto tras la última línea GO, que no se ejecuta");
  };

  // Line by line: separator lines, lines that look like one, client commands. Every
  // separator begins a line (it is the "GO" after a CR LF), so pieces 1.. begin two bytes
  // after a line start.
  std::size_t nextCut = 1;
  const std::vector<std::size_t>& nl = lines.ends();
  for (std::size_t n = 0;; ++n) {
    const std::size_t s = n == 0 ? 0 : nl[n - 1] + 1;
    if (s >= t.size()) break;
    const std::size_t stop = n < nl.size() ? nl[n] : t.size();
    const std::size_t e = static_cast<std::size_t>(
        std::find(t.begin() + static_cast<std::ptrdiff_t>(s),
                  t.begin() + static_cast<std::ptrdiff_t>(stop), '\r') - t.begin());
    std::size_t j = s;
    while (j < e && (t[j] == ' ' || t[j] == '\t')) ++j;
    while (nextCut <= k && starts[nextCut] < s + 2) ++nextCut;
    const bool cuts = nextCut <= k && starts[nextCut] == s + 2;
    const bool looksGo = e - j >= 2 && Lower(t[j]) == 'g' && Lower(t[j + 1]) == 'o' &&
                         (j + 2 == e || !WordByte(t[j + 2]));
    if (cuts) {
      const std::string_view rest = t.substr(s + 2, e - s - 2);
      if (FirstNonBlank(rest) != std::string_view::npos)
        Add(r, lines.At(s), "go-with-text",
            "esta línea separa lotes por sus dos primeras letras; el resto, " + Quoted(rest) +
                ", no es parte del separador: va al principio del " + where(s + 2));
    } else if (looksGo) {
      const std::string why = j > s    ? "una línea GO sangrada no separa lotes"
                              : s == 0 ? "una línea GO en la primera línea del archivo no separa lotes"
                                       : "esta línea GO no separa lotes (la anterior termina en LF solo)";
      Add(r, lines.At(s), "go-not-separator", why + ": queda dentro del " + where(s));
    }
    if (j < e && t[j] == '\\')
      Add(r, lines.At(s), "client-command",
          "orden de un cliente de consola (empieza por «\\»): ningún motor la ejecuta y el lote "
          "fallará");
    if (n == nl.size()) break;
  }

  // What never runs, after what explains it on the same line.
  if (!pieces.empty()) {
    const std::size_t b = FirstNonBlank(pieces.back());
    if (b != std::string_view::npos) {
      r.unexecuted = Piece{starts.back(), pieces.back().size(), lines.At(starts.back())};
      const int64_t line = lines.At(starts.back() + b);
      if (k == 0)
        Add(r, line, "no-separator",
            "el script no tiene ninguna línea GO que lo corte: no ejecuta nada y aun así cuenta "
            "como ejecutado");
      else
        Add(r, line, "text-after-last-go",
            "texto tras la última línea GO: no se ejecuta nunca y el script cuenta como "
            "ejecutado; termine el script con una línea GO");
    }
  }
  if (k > kMaxBatches)
    Add(r, r.batches[kMaxBatches].line, "too-many-batches",
        std::to_string(k) + " lotes: el actualizador no ejecuta más de " +
            std::to_string(kMaxBatches) + " de un script y cancela la actualización (Overflow)");

  // Line ends of more than one kind: the lone LF is a character for the updater.
  int kinds = 0;
  int most = kCrLf;
  for (int kind = kCrLf; kind <= kCr; ++kind) {
    if (ends.count[kind] == 0) continue;
    ++kinds;
    if (ends.count[kind] > ends.count[most]) most = kind;
  }
  if (kinds > 1) {
    int odd = -1;
    for (int kind = kCrLf; kind <= kCr; ++kind)
      if (kind != most && ends.count[kind] > 0 && (odd < 0 || ends.first[kind] < ends.first[odd]))
        odd = kind;
    std::string counts;
    for (int kind = kCrLf; kind <= kCr; ++kind)
      counts += std::string(counts.empty() ? "" : ", ") + kEndNames[kind] + ": " +
                std::to_string(ends.count[kind]);
    Add(r, ends.first[odd], "mixed-line-ends",
        "fines de línea mezclados (" + counts + "); esta línea termina en " + kEndNames[odd] +
            (odd == kLf ? ", que para el actualizador no termina la línea" : ""));
  }

  std::stable_sort(r.findings.begin(), r.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
}

// What statement of `engine` cannot run inside the transaction the updater holds open for
// each entity: its name as the author wrote it, or nullptr.
const char* OutsideTransactionOnly(Engine engine, const ado::Statement& s) {
  if (engine == Engine::Postgres) {
    static const struct {
      std::initializer_list<std::string_view> lead;
      const char* name;
    } kPostgres[] = {
        {{"create", "database"}, "CREATE DATABASE"},
        {{"drop", "database"}, "DROP DATABASE"},
        {{"vacuum"}, "VACUUM"},
        {{"create", "index", "concurrently"}, "CREATE INDEX CONCURRENTLY"},
        {{"create", "unique", "index", "concurrently"}, "CREATE INDEX CONCURRENTLY"},
        {{"drop", "index", "concurrently"}, "DROP INDEX CONCURRENTLY"},
        {{"alter", "system"}, "ALTER SYSTEM"},
        {{"create", "tablespace"}, "CREATE TABLESPACE"},
        {{"drop", "tablespace"}, "DROP TABLESPACE"},
    };
    for (const auto& k : kPostgres)
      if (s.Begins(k.lead)) return k.name;
  } else if (engine == Engine::Sqlite) {
    if (s.Begins({"vacuum"})) return "VACUUM";
    if (s.Begins({"begin"})) return "BEGIN";
  }
  return nullptr;
}

// Statements that fail whatever the data: COPY with the client, and what the engine
// refuses inside a transaction. Read as PostgreSQL's drivers read a text, batch by batch.
void FindStatementTraps(ScriptReport& r, Engine engine) {
  const Lines lines(r.text);
  for (const Piece& batch : r.batches) {
    const std::string_view text = r.PieceText(batch);
    std::vector<ado::Statement> statements = ado::Statements(text);
    // Read with backslash escapes too, as the drivers do, erring towards a finding.
    if (text.find('\\') != std::string_view::npos)
      for (ado::Statement& s : ado::Statements(text, true))
        if (std::none_of(statements.begin(), statements.end(),
                         [&](const ado::Statement& o) { return o.offset == s.offset; }))
          statements.push_back(std::move(s));
    for (const ado::Statement& s : statements) {
      const int64_t line = lines.At(batch.offset + s.offset);
      if (s.CopiesWithTheClient())
        Add(r, line, "copy-with-client",
            "COPY … FROM STDIN o TO STDOUT intercambia los datos con el cliente, y el "
            "actualizador no envía ni recibe ninguno: el lote fallará");
      else if (const char* name = OutsideTransactionOnly(engine, s))
        Add(r, line, "not-in-transaction",
            std::string(name) + " no puede ejecutarse dentro de una transacción, y el "
            "actualizador ejecuta los scripts de cada entidad en una: el lote fallará");
    }
  }
  std::stable_sort(r.findings.begin(), r.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
}

// Each finding's severity, from its kind; a tail after the last GO that holds only
// comments and blanks is harmless.
void Grade(ScriptReport& r) {
  static const std::initializer_list<std::string_view> kErrors = {
      "too-many-batches", "copy-with-client", "client-command", "invalid-text",
      "nul-character", "not-in-transaction"};
  for (Finding& f : r.findings) {
    if (std::find(kErrors.begin(), kErrors.end(), f.kind) != kErrors.end())
      f.severity = "error";
    else if (f.kind == "mixed-line-ends")
      f.severity = "note";
    else if (f.kind == "text-after-last-go" && r.unexecuted &&
             ado::Statements(r.PieceText(*r.unexecuted)).empty()) {
      f.severity = "note";
      f.message = "texto tras la última línea GO: solo comentarios y blancos, que no se ejecutan";
    } else
      f.severity = "warning";
  }
}

// Why the updater passes by `name`, which it does not list.
std::string WhyNotRun(const std::string& name, const std::vector<std::string>& entities) {
  const std::string upper = platform::AsciiUpper(name);
  if (name.front() == '.')
    return "el nombre empieza por «.» y el actualizador no ve los archivos ocultos";
  if (!upper.ends_with(".SQL")) return "el nombre no termina en «.sql»";
  std::string prefixes;
  for (const std::string& e : entities) {
    if (upper.starts_with(e + "_")) return "no es un archivo que el actualizador pueda leer";
    prefixes += (prefixes.empty() ? "" : ", ") + e + "_";
  }
  return "el nombre no empieza por el de una entidad seguido de «_» (" + prefixes + ")";
}

}  // namespace

std::string ScriptReport::BatchText(std::size_t i) const {
  std::string out;
  out.reserve(batches[i].length + 2);
  return out.append(PieceText(batches[i])).append("\r\n");
}

std::vector<Discovered> DiscoverScripts(platform::Env& env) {
  const std::string folder = env.ProgramFolder();
  std::error_code ec;
  if (!std::filesystem::is_directory(platform::NativePath(folder), ec))
    throw Error("No existe la carpeta " + folder);
  KeptBoxes boxes;
  Borrowed module(&env, &boxes);
  try {
    ObtenerListadoSql();
  } catch (const ProgramEnd&) {
    throw Error(boxes.last);
  }
  std::vector<Discovered> found;
  for (std::size_t i = 1; i < ListaScripts.size(); ++i)
    found.push_back({ListaScripts[i].Archivo, ListaScripts[i].Entidad});
  return found;
}

ScriptReport CheckScript(platform::Env& env, const Discovered& script, Engine engine) {
  ScriptReport r;
  r.file = script.file;
  r.entity = script.entity;
  const std::string folder = env.ProgramFolder();
  r.path = platform::NativePath(folder) + "/" + script.file;
  try {
    std::unique_ptr<platform::TextFile> file = env.OpenText(folder + "\\" + script.file);
    file->ReadAllLines(r.text);
    file->Close();
  } catch (const TextError& e) {
    r.error = e.Description();
    r.text.clear();
    Add(r, static_cast<int64_t>(e.line), "invalid-text", r.error);
    Grade(r);
    return r;
  } catch (const std::exception& e) {
    r.error = Describe(e);
    r.text.clear();
    return r;
  }
  NormalizarSeparadores(r.text);
  const std::vector<std::string_view> pieces = CortarLotes(r.text);
  FindTraps(r, pieces, ScanLineEnds(r.path));
  FindStatementTraps(r, engine);
  Grade(r);
  return r;
}

Engine EngineOf(platform::Env& env, const std::string& entity) {
  try {
    const automation::ObjectPtr manager = automation::CreateObject("Quillmere.QuillMain");
    automation::Args path{env.Environ("ProgramFiles") + "\\Corvessa\\quillmereconfig.ini"};
    manager->Invoke("setParametersPath", automation::InvokeKind::PropertyPut, path);
    automation::Args none;
    manager->Invoke("LoadParameters", automation::InvokeKind::Method, none);
    automation::Args asked{entity};
    const automation::Variant tag = manager->Invoke(
        "getDataConnectionTAG", automation::InvokeKind::MethodOrPropertyGet, asked);
    if (!tag.IsText()) return Engine::Any;
    if (tag.Text() == "SQLITE") return Engine::Sqlite;
    if (tag.Text() == "POSTGRESQL") return Engine::Postgres;
  } catch (const std::exception&) {
    // No readable configuration: hold the scripts to every engine's rules.
  }
  return Engine::Any;
}

std::vector<NotRun> FilesNotRun(platform::Env& env, const std::vector<Discovered>& discovered,
                                const std::string& only) {
  const std::string folder = env.ProgramFolder();
  const std::vector<std::string> entities = EntidadesBuscadas();
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(platform::NativePath(folder), ec)) {
    const std::string name = entry.path().filename().string();
    const std::string upper = platform::AsciiUpper(name);
    if (!only.empty() && name != only) continue;
    const bool looksMeant =
        !only.empty() || upper.ends_with(".SQL") ||
        std::any_of(entities.begin(), entities.end(),
                    [&](const std::string& e) { return upper.find(e) != std::string::npos; });
    const bool listed = std::any_of(discovered.begin(), discovered.end(),
                                    [&](const Discovered& d) { return d.file == name; });
    std::error_code folderEc;
    if (looksMeant && !listed && !entry.is_directory(folderEc)) names.push_back(name);
  }
  // The updater's order: upper-cased names, byte by byte.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return platform::AsciiUpper(a) < platform::AsciiUpper(b);
  });
  std::vector<NotRun> found;
  for (const std::string& name : names)
    found.push_back({name, platform::NativePath(folder) + "/" + name,
                     {0, "will-not-run", "no se ejecutará: " + WhyNotRun(name, entities),
                      "warning"}});
  return found;
}

std::vector<ConnectionReport> TryConnections(platform::Env& env,
                                             const std::vector<std::string>& entities) {
  std::vector<ConnectionReport> reports;
  for (const std::string& entity : entities) {
    ConnectionReport r{entity, "error", ""};
    KeptBoxes boxes;
    Borrowed module(&env, &boxes);
    try {
      std::string asked = entity;
      if (EstablecerEntidad(asked)) {
        ConexionActual->BeginTrans();
        ConexionActual->RollbackTrans();
        r.status = "ok";
        const std::string engine = ConexionActual->Engine();
        r.engine = engine == "SQLITE"       ? Engine::Sqlite
                   : engine == "POSTGRESQL" ? Engine::Postgres
                                            : Engine::Any;
      } else {
        // The report ends with the entity asked for and where the routine failed.
        r.message = boxes.last.substr(0, boxes.last.rfind("Entidad buscada:" + entity + "\r\n"));
      }
    } catch (const ProgramEnd& end) {
      if (end.status == ExitStatus::Access)
        r.status = "ACCESS";
      else
        r.message = boxes.last;
    } catch (const std::exception& e) {
      r.message = Describe(e);
    }
    reports.push_back(std::move(r));
  }
  return reports;
}

}  // namespace vandrel::check
