#include "quillmere/quillmere.h"

#include <ini.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "platform/ado/drivers.h"
#include "platform/ado/engine_error.h"
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
  int tagLine = 0;
  int connectionLine = 0;
};

using Entities = std::map<std::string, EntityEntry>;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Reads the file for inih line by line, counting lines and noting section headers, which
// inih itself does not report.
struct Reader {
  std::string content;
  std::size_t at = 0;
  int line = 0;
  std::string error;  // set when reading stops on a fault of its own
  int errorLine = 0;
  std::string section;  // as the last header names it
  std::string raw;      // the line inih is parsing, as written
  Entities* entities = nullptr;

  void Fail(int where, std::string what) {
    if (error.empty()) {
      error = std::move(what);
      errorLine = where;
    }
  }

  static char* Next(char* buffer, int size, void* self) {
    auto* r = static_cast<Reader*>(self);
    if (r->at >= r->content.size() || !r->error.empty()) return nullptr;
    auto end = r->content.find('\n', r->at);
    end = end == std::string::npos ? r->content.size() : end + 1;
    std::string_view text(r->content.data() + r->at, end - r->at);
    r->at = end;
    ++r->line;
    std::string_view body = text;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
    if (body.size() + 2 > static_cast<std::size_t>(size)) {
      r->Fail(r->line, "la línea es demasiado larga (más de " + std::to_string(size - 2) +
                           " caracteres)");
      return nullptr;
    }
    if (body.find('\0') != std::string_view::npos) {
      r->Fail(r->line, "la línea contiene un carácter NUL");
      return nullptr;
    }
    r->raw.assign(body);
    r->NoteSection(body);
    std::memcpy(buffer, body.data(), body.size());
    buffer[body.size()] = '\n';
    buffer[body.size() + 1] = '\0';
    return buffer;
  }

  void NoteSection(std::string_view text) {
    std::size_t i = 0;
    if (line == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size() || text[i] != '[') return;
    const auto close = text.find(']', i + 1);
    if (close == std::string_view::npos) return;  // inih reports it as malformed
    // Exactly as inih names it, so that its keys are found under it.
    std::string name(text.substr(i + 1, close - i - 1));
    section = name;
    auto [it, added] = entities->try_emplace(name);
    if (!added) {
      Fail(line, "la sección [" + name + "] ya aparece en la línea " + std::to_string(it->second.line));
      return;
    }
    it->second.line = line;
  }
};

// The value of a "key = value" line as written: everything after the first '=' or ':',
// without the blanks around it. `parsed` is inih's value, used if the line is not found.
std::string RawValue(const std::string& line, const char* parsed) {
  const auto sep = line.find_first_of("=:");
  if (sep == std::string::npos) return parsed;
  const auto begin = line.find_first_not_of(" \t", sep + 1);
  if (begin == std::string::npos) return {};
  const auto end = line.find_last_not_of(" \t");
  return line.substr(begin, end - begin + 1);
}

int Handle(void* self, const char* sectionName, const char* name, const char* value) {
  auto* r = static_cast<Reader*>(self);
  const std::string section = sectionName;
  const std::string key = Lower(name);
  if (section.empty() || r->entities->find(section) == r->entities->end()) {
    r->Fail(r->line, std::string("la clave ") + name + " está fuera de una sección");
    return 0;
  }
  EntityEntry& entry = (*r->entities)[section];
  std::optional<std::string>* slot = nullptr;
  int* slotLine = nullptr;
  if (key == "tag") {
    slot = &entry.tag;
    slotLine = &entry.tagLine;
  } else if (key == "connection") {
    slot = &entry.connection;
    slotLine = &entry.connectionLine;
  } else {
    r->Fail(r->line, std::string("clave desconocida ") + name + " en la sección [" + section +
                         "] (se esperan Tag y Connection)");
    return 0;
  }
  if (slot->has_value()) {
    // An indented line continues the previous value in this format.
    r->Fail(r->line, std::string("la clave ") + name + " de la sección [" + section +
                         "] ya se definió en la línea " + std::to_string(*slotLine) +
                         " (una línea sangrada continúa la anterior)");
    return 0;
  }
  // inih cuts a value at " ;" as an inline comment; a connection string may hold that (in a
  // password, say), so the value is taken from the line as written.
  *slot = RawValue(r->raw, value);
  *slotLine = r->line;
  return 1;
}

class AssemblyConnection final : public Object {
 public:
  AssemblyConnection(std::string entity, std::string tag, std::string connection,
                     fs::path iniFolder)
      : entity_(std::move(entity)),
        tag_(std::move(tag)),
        connection_(std::move(connection)),
        iniFolder_(std::move(iniFolder)) {}

  Variant Invoke(const std::string& name, InvokeKind kind, Args& args) override {
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
      fs::path path = vandrel::platform::NativePath(connection_);
      if (path.is_relative()) path = iniFolder_ / path;
      std::error_code ec;
      const auto status = fs::status(path, ec);
      if (!fs::exists(status))
        throw Error("No existe " + where + ", " + path.string() + ")");
      if (!fs::is_regular_file(status))
        throw Error("No es un archivo " + where + ", " + path.string() + ")");
      try {
        return vandrel::ado::OpenSqlite(path.string());
      } catch (const Error& e) {
        throw Error("No se puede abrir " + where + ", " + path.string() + "): " + e.Description());
      }
    }
    try {
      if (tag_ == "POSTGRESQL") return vandrel::ado::OpenPostgres(connection_);
      return vandrel::ado::OpenOdbc(connection_);
    } catch (const Error& e) {
      throw Error("No se puede abrir " + where + "): " + e.Description());
    }
  }

  std::string entity_, tag_, connection_;
  fs::path iniFolder_;
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
      return Variant(std::make_shared<AssemblyConnection>(entity, tag, *entry.connection,
                                                          file_.parent_path()));
    }
    ThrowUnknownMember(name);
  }

 private:
  void Load() {
    loaded_.reset();
    if (path_.empty())
      throw Error("No se indicó la ruta del archivo de configuración (setParametersPath)");
    file_ = vandrel::platform::NativePath(path_);
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
      const int err = errno;
      if (err == ENOENT)
        throw Error("No existe el archivo de configuración " + file_.string());
      throw Error("No se puede leer el archivo de configuración " + file_.string() + ": " +
                  std::strerror(err));
    }
    if (fs::is_directory(file_))
      throw Error("El archivo de configuración " + file_.string() + " es una carpeta");
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
      throw Error("No se puede leer el archivo de configuración " + file_.string());

    Entities entities;
    Reader reader;
    reader.content = content.str();
    reader.entities = &entities;
    const int result = ini_parse_stream(&Reader::Next, &reader, &Handle, &reader);
    // inih goes on after a malformed line and returns the first one; a fault found by the
    // reader or the handler stops at once, so the smaller line number is the first fault.
    if (result > 0 && (reader.error.empty() || result < reader.errorLine))
      throw Error("Línea " + std::to_string(result) + " mal formada en " + file_.string());
    if (!reader.error.empty())
      throw Error("Línea " + std::to_string(reader.errorLine) + " de " + file_.string() + ": " +
                  reader.error);
    if (result < 0) throw Error("No se puede leer el archivo de configuración " + file_.string());
    loaded_ = std::move(entities);
  }

  const EntityEntry& Find(const std::string& entity) {
    if (!loaded_)
      throw Error("No se han cargado los parámetros (LoadParameters) del archivo de configuración");
    const auto it = loaded_->find(entity);
    if (it == loaded_->end())
      throw Error("La entidad " + entity + " no tiene sección en " + file_.string());
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
