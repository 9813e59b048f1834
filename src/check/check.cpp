#include "check/check.h"

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
#include "platform/ascii.h"
#include "platform/error.h"
#include "shell/program_end.h"

namespace vandrel::check {
namespace {

// The routines' message boxes, kept instead of shown: the last one is the report.
class KeptBoxes final : public shell::Desktop {
 public:
  std::string last;
  void ClipboardClear() override {}
  void ClipboardSetText(const std::string&) override {}
  void DoEvents() override {}

 protected:
  void ShowBox(const std::string& prompt, int, const std::string&) override { last = prompt; }
};

// Points the updater's module at `env` and `boxes` for one routine call, then puts back
// what was there and releases what the routine left open (rolling back).
class Borrowed {
 public:
  Borrowed(platform::Env* env, shell::Desktop* desktop) : saved_(services) {
    services.env = env;
    services.desktop = desktop;
    InitModule();
  }
  ~Borrowed() {
    ReleaseModule();
    ListaScripts.clear();
    services = saved_;
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;

 private:
  Services saved_;
};

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

// `word` (lower case) at `i` of `t`, letter case ignored, not inside a longer word.
bool WordAt(std::string_view t, std::size_t i, std::string_view word) {
  if (i + word.size() > t.size() || (i > 0 && WordByte(t[i - 1]))) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (Lower(t[i + k]) != word[k]) return false;
  return i + word.size() == t.size() || !WordByte(t[i + word.size()]);
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

  // COPY ... FROM stdin within one statement.
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (Lower(t[i]) != 'c' || !WordAt(t, i, "copy")) continue;
    const std::size_t end = std::min(t.find(';', i), t.size());
    for (std::size_t f = i + 4; f < end; ++f) {
      if (Lower(t[f]) != 'f' || !WordAt(t, f, "from")) continue;
      std::size_t w = f + 4;
      while (w < end && Blank(t[w])) ++w;
      if (w > f + 4 && WordAt(t, w, "stdin")) {
        Add(r, lines.At(i), "copy-from-stdin",
            "COPY … FROM stdin espera los datos del cliente, y el actualizador no envía "
            "ninguno: el lote fallará");
        break;
      }
    }
    i = end;
  }

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

ScriptReport CheckScript(platform::Env& env, const Discovered& script) {
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
    return r;
  } catch (const std::exception& e) {
    r.error = Describe(e);
    r.text.clear();
    return r;
  }
  NormalizarSeparadores(r.text);
  const std::vector<std::string_view> pieces = CortarLotes(r.text);
  FindTraps(r, pieces, ScanLineEnds(r.path));
  return r;
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
