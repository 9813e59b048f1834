#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "platform/ado/connection.h"
#include "quillmere/quillmere.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using automation::InvokeKind;
using automation::ObjectPtr;

automation::Variant Call(const ObjectPtr& object, const std::string& member, automation::Args args = {},
                         InvokeKind kind = InvokeKind::MethodOrPropertyGet) {
  return object->Invoke(member, kind, args);
}

class QuillmereTest : public ::testing::Test {
 protected:
  void SetUp() override { quillmere::Register(); }
  // Writes the ini (unless empty) under <folder>/Corvessa; loads it through "\" separators.
  ObjectPtr Load(const std::string& ini) {
    if (!ini.empty()) folder.Write("Corvessa/quillmereconfig.ini", ini);
    ObjectPtr manager = automation::CreateObject("Quillmere.QuillMain");
    Call(manager, "setParametersPath", {folder.str() + "\\Corvessa\\quillmereconfig.ini"}, InvokeKind::PropertyPut);
    Call(manager, "LoadParameters", {}, InvokeKind::Method);
    return manager;
  }
  static ObjectPtr Connect(const ObjectPtr& manager, const std::string& entity) {
    return Call(Call(manager, "getDataConnectionByEntity", {entity}).AsObject(), "GetAssemblyConnection").AsObject();
  }
  std::string Ini() const { return folder.str() + "/Corvessa/quillmereconfig.ini"; }
  TempFolder folder;
};

// A named pipe would block the load for ever; a link to a device, or a file of gigabytes,
// would be read until memory runs out.
TEST_F(QuillmereTest, FileFaultsSayWhatAndWhere) {
  const std::string file = "El archivo de configuración " + Ini(), line = "Línea 3 de " + Ini() + ": ";
  const std::pair<std::string, std::string> rows[] = {
      {"", "No existe el archivo de configuración " + Ini()},
      {"[A]\nTag=SQLITE\nthis is not a key\n", "Línea 3 mal formada en " + Ini()},
      {"[A\nTag=X\n[B]\n[B]\n", "Línea 1 mal formada en " + Ini()},  // the first fault counts
      {"; c\n[A]\nTag=SQLITE\n\n[B]\nTag=ODBC\n[A]\nConnection=x\n",
       "Línea 7 de " + Ini() + ": la sección [A] ya aparece en la línea 2"},
      {"Tag=SQLITE\n[A]\n", "Línea 1 de " + Ini() + ": la clave Tag está fuera de una sección"},
      {"[A]\nTag=SQLITE\nConexion=x\n", line + "clave desconocida Conexion en la sección [A] (se esperan Tag y Connection)"},
      {"[A]\nTag=SQLITE\n  Connection=a.db\n", line + "la clave Tag de la sección [A] ya se definió en la línea 2 "
                                                        "(una línea sangrada continúa la anterior)"},
      {"[A]\nTag=SQLITE\nConnection=a\0b\n"s, line + "la línea contiene un carácter NUL"},
      {"[A]\rTag=SQLITE\r\r\nx\r", "Línea 4 mal formada en " + Ini()},  // CR, CR LF and LF end lines
      {"[A]\n\n[B]Tag=SQLITE\n", line + "la sección [B] va sola en su línea: la clave Tag escrita tras «]» debe ir "
                                       "en la línea siguiente"},
      {"\n\n[A] Connection = host=x password=s3cr3t\n", line + "la sección [A] va sola en su línea: la clave "
                                                              "Connection escrita tras «]» debe ir en la línea siguiente"},
      {"\n\n[A] password s3cr3t\n", line + "la sección [A] va sola en su línea: sobra el texto escrito tras «]»"},
      {"[A]\nTag=SQLITE\n" + std::string(4 << 20, ';'), file + " pasa de 4 MiB y no se lee: uno de verdad ocupa unos pocos KiB"},
  };
  for (const auto& [ini, says] : rows) EXPECT_EQ(ErrorOf([&] { Load(ini); }), says) << ini.substr(0, 40);
  const std::pair<std::function<void()>, std::string> notFiles[] = {
      {[&] { ASSERT_EQ(mkfifo(Ini().c_str(), 0600), 0); }, " no es un archivo normal (es una tubería con nombre)"},
      {[&] { fs::create_symlink("/dev/zero", Ini()); }, " no es un archivo normal (es un dispositivo)"},
      {[&] { fs::create_directory(Ini()); }, " es una carpeta"}};
  for (const auto& [make, says] : notFiles) {
    fs::remove(Ini());
    make();
    EXPECT_EQ(ErrorOf([&] { Load(""); }), file + says);
  }

  ObjectPtr manager = automation::CreateObject("Quillmere.QuillMain");
  EXPECT_EQ(ErrorOf([&] { Call(manager, "LoadParameters", {}, InvokeKind::Method); }),
            "No se indicó la ruta del archivo de configuración (setParametersPath)");
  EXPECT_EQ(ErrorOf([&] { Call(manager, "getDataConnectionTAG", {"A"}); }),
            "No se han cargado los parámetros (LoadParameters) del archivo de configuración");
  EXPECT_EQ(ErrorOf([&] { Call(manager, "setParametersPath", {}, InvokeKind::PropertyGet); }),
            "Invalid use of property: setParametersPath can only be assigned, not read");
}

// Section names and tags are taken exactly as written, keys in any letter case; values whole
// (" ;" and "#" are no comments inside one) and lines of any length, with a byte-order mark
// and CRLF endings from a Windows editor. A relative SQLite path is the ini folder's, where a
// backslash in a folder's own name is found; a missing database is never created. Whatever
// the tag, no failure shows a password.
TEST_F(QuillmereTest, TagsAndConnectionsOfEntities) {
  const std::string tag(5000, 'T'), name(300, 'S'), at = " de " + Ini() + ")", dbs = folder.str() + "/Corvessa/";
  for (const char* file : {"a #b ;c.db", "datos/db", "mis\\datos/db", "password=s3cr3tD x/y"}) folder.Write("Corvessa/"s + file, "");
  folder.Write("otro.db", "no es una base de datos, sino texto corriente que ocupa sitio" + std::string(2000, '.'));
  ObjectPtr manager = Load("\xEF\xBB\xBF[LARGA]\r\nTag=" + tag + "\r\n[" + name + "]\r\nTag=ODBC\n"  // lines 1-4
                           "[CATALOGOS]\nTag = SQLITE\nConnection = a #b ;c.db \n[NCM ]\nTag=Sqlite\n"  // 5-9
                           "[SINTAG]\nconnection=x\n[SYSTABLAS]\nTAG=ACCESS\n"                          // 10-13
                           "[SINCONEXION]\nTag=POSTGRESQL\n[VACIA]\nTag=SQLITE\nConnection=\n"        // 14-18
                           "[RELATIVA]\nTag=SQLITE\nConnection=datos\\db\n[BARRA]\nTag=SQLITE\nConnection=mis\\datos\\db\n"
                           "[FALTA]\nTag=SQLITE\nConnection=falta.db\n[TEXTO]\nTag=SQLITE\nConnection=" + folder.str() + "/otro.db\n"
                           "[A]\nTag=SQLITE\nConnection=host=127.0.0.1 password=s3cr3tA dbname=x\n[D]\nTag=SQLITE\n"
                           "Connection=password=s3cr3tD x\n[B]\nTag=SQLITE\nConnection=Driver={X};Uid=u;Pwd={s3cr3tB;x}\n"
                           "[E]\nTag=POSTGRESQL\nConnection=Driver={X};Server=127.0.0.1;Pwd=s3cr3tE\n"
                           "[F]\nTag=POSTGRESQL\nConnection=host=127.0.0.1 port=1 pwd=s3cr3tF\n"
                           "[G]\nTag=ODBC\nConnection=host=127.0.0.1 port=1 password=s3cr3tG dbname=x\n");
  const std::string noneAt = "No existe la base de datos de la entidad ", cannot = "No se puede abrir la base de datos de la entidad ";
  // Entity, whether to connect (else only the tag is asked for), and what it says: the tag,
  // "abierta", or the error, followed by the driver's own text when it ends in "): ".
  const std::tuple<std::string, bool, std::string> rows[] = {
      {"LARGA", false, tag}, {name, false, "ODBC"}, {"NCM ", false, "Sqlite"}, {"SYSTABLAS", false, "ACCESS"},
      {"catalogos", false, "La entidad catalogos no tiene sección en " + Ini() + ": la sección [CATALOGOS] de la "
                           "línea 5 no es la suya, las mayúsculas y minúsculas cuentan (escríbala [catalogos])"},
      {"NCM", false, "La entidad NCM no tiene sección en " + Ini() + ": la sección [NCM ] de la línea 8 no es la "
                     "suya, sobran los blancos entre los corchetes (escríbala [NCM])"},
      {"CATALOGO", false, "La entidad CATALOGO no tiene sección en " + Ini()},
      {"SINTAG", false, "La sección [SINTAG] (línea 10" + at + " no tiene Tag"},
      {"SINTAG", true, "La entidad SINTAG no tiene Tag (sección en la línea 10" + at},
      {"SINCONEXION", true, "Falta Connection para la entidad SINCONEXION (sección en la línea 14" + at},
      {"VACIA", true, "Falta Connection para la entidad VACIA (sección en la línea 16" + at},
      {"NCM ", true, "Etiqueta desconocida \"Sqlite\" para la entidad NCM  en la línea 9 de " + Ini() +
                         " (se espera SQLITE, POSTGRESQL, ODBC o ACCESS)"},
      {"SYSTABLAS", true, "La entidad SYSTABLAS tiene la etiqueta ACCESS y no tiene conexión (sección en la línea 12" + at},
      {"CATALOGOS", true, "abierta"}, {"RELATIVA", true, "abierta"}, {"BARRA", true, "abierta"},
      {"FALTA", true, noneAt + "FALTA (SQLITE, " + dbs + "falta.db)"},
      {"TEXTO", true, cannot + "TEXTO (SQLITE, " + folder.str() + "/otro.db): file is not a database"},
      {"A", true, noneAt + "A (SQLITE, " + dbs + "host=127.0.0.1 password=*** dbname=x)"},
      {"B", true, noneAt + "B (SQLITE, " + dbs + "Driver={X};Uid=u;Pwd=***)"},
      {"D", true, "No es un archivo la base de datos de la entidad D (SQLITE, " + dbs + "password=*** ***)"},  // as ODBC reads it, "x" is the password's too
      {"E", true, cannot + "E (POSTGRESQL): "}, {"F", true, cannot + "F (POSTGRESQL): "}, {"G", true, cannot + "G (ODBC): "},
  };
  for (const auto& [entity, connect, says] : rows) {
    std::string got;
    const std::string error = ErrorOf([&] {
      got = connect ? (std::dynamic_pointer_cast<ado::Connection>(Connect(manager, entity)) ? "abierta" : "")
                    : Call(manager, "getDataConnectionTAG", {entity}).Text();
    });
    got = error == "no error" ? got : error;
    EXPECT_EQ(says.ends_with("): ") ? got.substr(0, says.size()) : got, says) << entity;
    EXPECT_EQ(got.find("s3cr3t"), std::string::npos) << got;
  }
  EXPECT_FALSE(fs::exists(dbs + "falta.db"));
}

// Old Mac line ends, as scripts may have; a comment after a header; blanks inside the
// brackets, which keep the section from its entity, named as the cause.
TEST_F(QuillmereTest, CrLineEndsAndHintsForHeaders) {
  const std::string none = "La entidad A no tiene sección en " + Ini() + ": la sección [";
  const std::tuple<std::string, std::string> rows[] = {
      {"; c\r[B]\rTag=ODBC\r[A]\rTag=SQLITE\rConnection=a.db\r", "SQLITE"},
      {"[A] ; la de catálogos\rTag=SQLITE\r", "SQLITE"},
      {"[B]\r\n[ A ]\rTag=SQLITE\r", none + " A ] de la línea 2 no es la suya, sobran los blancos entre los corchetes "
                                       "(escríbala [A])"},
      {"[ a]\nTag=SQLITE\n", none + " a] de la línea 1 no es la suya, sobran los blancos entre los corchetes y las "
                              "mayúsculas y minúsculas cuentan (escríbala [A])"},
  };
  for (const auto& [ini, says] : rows) {
    std::string got;
    const std::string error = ErrorOf([&] { got = Call(Load(ini), "getDataConnectionTAG", {"A"}).Text(); });
    EXPECT_EQ(error == "no error" ? got : error, says) << ini;
  }
}

}  // namespace
}  // namespace vandrel::testing
