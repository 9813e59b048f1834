#include "quillmere/quillmere.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/ado/drivers.h"
#include "platform/ado/engine_error.h"
#include "platform/ascii.h"
#include "platform/automation/object.h"
#include "platform/env.h"
#include "platform/error.h"

namespace quillmere {

namespace {

namespace fs = std::filesystem;
using vandrel::Error;
using namespace vandrel::automation;

struct EntityEntry {
  int line = 0;  // of the section header
  std::optional<std::string> tag;
  std::optional<std::string> connection;
  std::optional<std::string> pipeline;  // "yes" or "no", any case; checked when read
  int tagLine = 0;
  int connectionLine = 0;
  int pipelineLine = 0;
};

using Entities = std::map<std::string, EntityEntry>;

std::string Lower(std::string s) { return vandrel::platform::AsciiLower(std::move(s)); }

// The file is small and its format simple: sections, "key = value" lines, comments on lines
// of their own. A reader of its own takes lines of any length and values whole (a
// connection string may hold ";" or "#").
constexpr std::size_t kMaxConfigBytes = std::size_t{4} << 20;

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

class Parser {
 public:
  Parser(const fs::path& file, Entities& entities) : file_(file), entities_(entities) {}

  // Lines end at CR LF, LF or CR, as scripts' lines do.
  void Parse(std::string_view content) {
    if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
    while (!content.empty()) {
      const auto end = content.find_first_of("\r\n");
      const std::string_view text = content.substr(0, end);
      std::size_t next = end == std::string_view::npos ? content.size() : end + 1;
      if (end != std::string_view::npos && content[end] == '\r' && next < content.size() &&
          content[next] == '\n')
        ++next;
      content.remove_prefix(next);
      ++line_;
      Line(text);
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw Error("Línea " + std::to_string(line_) + " de " + file_.string() + ": " + what);
  }
  [[noreturn]] void Malformed() const {
    throw Error("Línea " + std::to_string(line_) + " mal formada en " + file_.string());
  }

  void Line(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) Fail("la línea contiene un carácter NUL");
    const std::string_view body = Trim(text);
    if (body.empty() || body.front() == ';' || body.front() == '#') return;
    const bool indented = body.data() != text.data();
    if (indented && !lastKey_.empty()) {
      // An indented line continues the previous value in this format: a second value.
      Fail("la clave " + lastKey_ + " de la sección [" + section_ + "] ya se definió en la línea " +
           std::to_string(lastKeyLine_) + " (una línea sangrada continúa la anterior)");
    }
    if (body.front() == '[') return Section(body);
    const auto sep = body.find_first_of("=:");
    if (sep == std::string_view::npos) Malformed();
    Key(std::string(Trim(body.substr(0, sep))), std::string(Trim(body.substr(sep + 1))));
  }

  void Section(std::string_view body) {
    const auto close = body.find(']', 1);
    if (close == std::string_view::npos) Malformed();
    std::string name(body.substr(1, close - 1));
    // Only a comment may follow the header: a key there would otherwise be lost unseen. The
    // text itself is not shown, as it may hold a password.
    const std::string_view rest = Trim(body.substr(close + 1));
    if (!rest.empty() && rest.front() != ';' && rest.front() != '#') {
      const std::string_view key = Trim(rest.substr(0, rest.find_first_of("=:")));
      const bool named = rest.find_first_of("=:") != std::string_view::npos && !key.empty() &&
                         key.size() <= 40 &&
                         std::all_of(key.begin(), key.end(), [](char c) {
                           const char l = vandrel::platform::AsciiLower(c);
                           return c == '_' || (c >= '0' && c <= '9') || (l >= 'a' && l <= 'z');
                         });
      Fail("la sección [" + name + "] va sola en su línea: " +
           (named ? "la clave " + std::string(key) + " escrita tras «]» debe ir en la línea siguiente"
                  : std::string("sobra el texto escrito tras «]»")));
    }
    auto [it, added] = entities_.try_emplace(name);
    if (!added)
      Fail("la sección [" + name + "] ya aparece en la línea " + std::to_string(it->second.line));
    it->second.line = line_;
    section_ = std::move(name);
    inSection_ = true;
    lastKey_.clear();
  }

  void Key(const std::string& name, std::string value) {
    if (!inSection_ || section_.empty()) Fail("la clave " + name + " está fuera de una sección");
    EntityEntry& entry = entities_[section_];
    const std::string key = Lower(name);
    std::optional<std::string>* slot = nullptr;
    int* slotLine = nullptr;
    if (key == "tag") {
      slot = &entry.tag;
      slotLine = &entry.tagLine;
    } else if (key == "connection") {
      slot = &entry.connection;
      slotLine = &entry.connectionLine;
    } else if (key == "pipeline") {
      slot = &entry.pipeline;
      slotLine = &entry.pipelineLine;
      const std::string answer = Lower(value);
      if (answer != "yes" && answer != "no")
        Fail("la clave " + name + " de la sección [" + section_ + "] vale \"" + value +
             "\" (se espera yes o no)");
    } else {
      Fail("clave desconocida " + name + " en la sección [" + section_ +
           "] (se esperan Tag, Connection y Pipeline)");
    }
    if (slot->has_value())
      Fail("la clave " + name + " de la sección [" + section_ + "] ya se definió en la línea " +
           std::to_string(*slotLine) + " (una línea sangrada continúa la anterior)");
    *slot = std::move(value);
    *slotLine = line_;
    lastKey_ = name;
    lastKeyLine_ = line_;
  }

  const fs::path& file_;
  Entities& entities_;
  int line_ = 0;
  std::string section_;
  bool inSection_ = false;
  std::string lastKey_;  // of the last key line in this section, as written
  int lastKeyLine_ = 0;
};

// The whole file, read without waiting on anything that is not a regular file and without
// reading more than a configuration file can sensibly hold.
std::string ReadConfig(const fs::path& file) {
  const std::string cannot = "No se puede leer el archivo de configuración " + file.string();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) throw Error("No existe el archivo de configuración " + file.string());
    throw Error(cannot + ": " + std::strerror(err));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (fstat(fd, &st) != 0) throw Error(cannot + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode))
    throw Error("El archivo de configuración " + file.string() + " es una carpeta");
  if (!S_ISREG(st.st_mode))
    throw Error("El archivo de configuración " + file.string() +
                " no es un archivo normal (es " +
                (S_ISFIFO(st.st_mode) ? "una tubería con nombre" : "un dispositivo") + ")");
  std::string content;
  char buf[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw Error(cannot + ": " + std::strerror(errno));
    if (got == 0) break;
    content.append(buf, static_cast<std::size_t>(got));
    if (content.size() > kMaxConfigBytes)
      throw Error("El archivo de configuración " + file.string() + " pasa de " +
                  std::to_string(kMaxConfigBytes >> 20) +
                  " MiB y no se lee: uno de verdad ocupa unos pocos KiB");
  }
  return content;
}

class AssemblyConnection final : public Object {
 public:
  AssemblyConnection(std::string entity, std::string tag, std::string connection,
                     fs::path iniFolder, vandrel::ado::PostgresOptions postgres)
      : entity_(std::move(entity)),
        tag_(std::move(tag)),
        connection_(std::move(connection)),
        iniFolder_(std::move(iniFolder)),
        postgres_(postgres) {}

  Variant Invoke(const std::string& name, InvokeKind kind, Args& args) override {
    // What a record of the run may keep of the connection: the value, passwords blanked.
    if (SameName(name, "DescribeConnection")) {
      CheckKind(name, MemberKind::Callable, kind);
      CheckArgCount(name, args, 0, 0);
      return Variant(vandrel::ado::BlankConnection(connection_, connection_));
    }
    if (!SameName(name, "GetAssemblyConnection")) ThrowUnknownMember(name);
    CheckKind(name, MemberKind::Callable, kind);
    CheckArgCount(name, args, 0, 0);
    return Variant(Open());
  }

 private:
  // Whatever the tag, the string may hold a password (a libpq string under SQLITE, say).
  vandrel::ado::ConnectionPtr Open() {
    try {
      return OpenAsTagged();
    } catch (const Error& e) {
      throw Error(vandrel::ado::BlankConnection(e.Description(), connection_));
    }
  }

  vandrel::ado::ConnectionPtr OpenAsTagged() {
    const std::string where = "la base de datos de la entidad " + entity_ + " (" + tag_;
    if (tag_ == "SQLITE") {
      std::optional<vandrel::ado::SqliteUri> uri;
      try {
        uri = vandrel::ado::ParseSqliteUri(connection_);
      } catch (const Error& e) {
        throw Error("No se puede abrir " + where + "): " + e.Description());
      }
      const std::string file = uri ? uri->path : connection_;
      // A relative path is the ini folder's, also where a backslash is resolved.
      const bool absolute = file.starts_with('/') || file.starts_with('\\');
      const fs::path path =
          vandrel::platform::NativePath(absolute ? file : (iniFolder_ / "").string() + file);
      std::error_code ec;
      const auto status = fs::status(path, ec);
      if (!fs::exists(status))
        throw Error("No existe " + where + ", " + path.string() + ")");
      if (!fs::is_regular_file(status))
        throw Error("No es un archivo " + where + ", " + path.string() + ")");
      try {
        return vandrel::ado::OpenSqlite(
            uri ? vandrel::ado::SqliteUriFor(path.string(), uri->query) : path.string());
      } catch (const Error& e) {
        // The driver names the file too; once is enough.
        std::string why = e.Description();
        const std::string named = " (" + path.string() + ")";
        if (why.size() > named.size() && why.ends_with(named)) why.resize(why.size() - named.size());
        throw Error("No se puede abrir " + where + ", " + path.string() + "): " + why);
      }
    }
    try {
      if (tag_ == "POSTGRESQL") return vandrel::ado::OpenPostgres(connection_, postgres_);
      return vandrel::ado::OpenOdbc(connection_);
    } catch (const Error& e) {
      throw Error("No se puede abrir " + where + "): " + e.Description());
    }
  }

  std::string entity_, tag_, connection_;
  fs::path iniFolder_;
  vandrel::ado::PostgresOptions postgres_;
};

class QuillMain final : public Object {
 public:
  Variant Invoke(const std::string& name, InvokeKind kind, Args& args) override {
    if (SameName(name, "setParametersPath")) {
      CheckKind(name, MemberKind::Writable, kind);
      CheckArgCount(name, args, 1, 1);
      path_ = TextArg(name, args, 0);
      loaded_.reset();
      return {};
    }
    if (SameName(name, "LoadParameters")) {
      CheckKind(name, MemberKind::Method, kind);
      CheckArgCount(name, args, 0, 0);
      Load();
      return {};
    }
    if (SameName(name, "getDataConnectionTAG")) {
      CheckKind(name, MemberKind::Callable, kind);
      CheckArgCount(name, args, 1, 1);
      const std::string& entity = TextArg(name, args, 0);
      const EntityEntry& entry = Find(entity);
      if (!entry.tag)
        throw Error("La sección [" + entity + "] (línea " + std::to_string(entry.line) + " de " +
                    file_.string() + ") no tiene Tag");
      return Variant(*entry.tag);
    }
    if (SameName(name, "getDataConnectionByEntity")) {
      CheckKind(name, MemberKind::Callable, kind);
      CheckArgCount(name, args, 1, 1);
      const std::string& entity = TextArg(name, args, 0);
      const EntityEntry& entry = Find(entity);
      const std::string at = " (sección en la línea " + std::to_string(entry.line) + " de " +
                             file_.string() + ")";
      if (!entry.tag) throw Error("La entidad " + entity + " no tiene Tag" + at);
      const std::string& tag = *entry.tag;
      if (tag == "ACCESS")
        throw Error("La entidad " + entity + " tiene la etiqueta ACCESS y no tiene conexión" + at);
      if (tag != "SQLITE" && tag != "POSTGRESQL" && tag != "ODBC")
        throw Error("Etiqueta desconocida \"" + tag + "\" para la entidad " + entity + " en la línea " +
                    std::to_string(entry.tagLine) + " de " + file_.string() +
                    " (se espera SQLITE, POSTGRESQL, ODBC o ACCESS)");
      if (!entry.connection || entry.connection->empty())
        throw Error("Falta Connection para la entidad " + entity + at);
      vandrel::ado::PostgresOptions postgres;
      postgres.pipeline = !entry.pipeline || Lower(*entry.pipeline) != "no";
      return Variant(std::make_shared<AssemblyConnection>(entity, tag, *entry.connection,
                                                          file_.parent_path(), postgres));
    }
    ThrowUnknownMember(name);
  }

 private:
  void Load() {
    loaded_.reset();
    if (path_.empty())
      throw Error("No se indicó la ruta del archivo de configuración (setParametersPath)");
    file_ = vandrel::platform::NativePath(path_);
    const std::string content = ReadConfig(file_);
    Entities entities;
    Parser(file_, entities).Parse(content);
    loaded_ = std::move(entities);
  }

  const EntityEntry& Find(const std::string& entity) {
    if (!loaded_)
      throw Error("No se han cargado los parámetros (LoadParameters) del archivo de configuración");
    const auto it = loaded_->find(entity);
    if (it == loaded_->end()) {
      for (const auto& [name, entry] : *loaded_) {
        const std::string trimmed(Trim(name));
        if (Lower(trimmed) != Lower(entity)) continue;
        const std::string blanks = trimmed != name ? "sobran los blancos entre los corchetes" : "";
        const std::string letters = trimmed != entity ? "las mayúsculas y minúsculas cuentan" : "";
        throw Error("La entidad " + entity + " no tiene sección en " + file_.string() +
                    ": la sección [" + name + "] de la línea " + std::to_string(entry.line) +
                    " no es la suya, " + blanks + (blanks.empty() || letters.empty() ? "" : " y ") +
                    letters + " (escríbala [" + entity + "])");
      }
      throw Error("La entidad " + entity + " no tiene sección en " + file_.string());
    }
    return it->second;
  }

  std::string path_;
  fs::path file_;
  std::optional<Entities> loaded_;
};

}  // namespace

void Register() { RegisterClass(kProgId, &Create); }

ObjectPtr Create() { return std::make_shared<QuillMain>(); }

}  // namespace quillmere
