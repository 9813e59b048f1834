#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/ado/connection.h"
#include "quillmere/quillmere.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

using namespace std::string_literals;

using automation::Args;
using automation::InvokeKind;
using automation::ObjectPtr;

class QuillmereTest : public ::testing::Test {
 protected:
  void SetUp() override { quillmere::Register(); }

  // Writes the ini under <folder>/Corvessa and loads it through a path with "\" separators.
  ObjectPtr Load(const std::string& ini) {
    if (!ini.empty()) folder.Write("Corvessa/quillmereconfig.ini", ini);
    ObjectPtr manager = automation::CreateObject("Quillmere.QuillMain");
    Args path{folder.str() + "\\Corvessa\\quillmereconfig.ini"};
    manager->Invoke("setParametersPath", InvokeKind::PropertyPut, path);
    Args none;
    manager->Invoke("LoadParameters", InvokeKind::Method, none);
    return manager;
  }
  std::string LoadError(const std::string& ini) {
    return ErrorOf([&] { Load(ini); });
  }
  static std::string Tag(const ObjectPtr& manager, const std::string& entity) {
    Args args{entity};
    return manager->Invoke("getDataConnectionTAG", InvokeKind::MethodOrPropertyGet, args).Text();
  }
  static ObjectPtr Connect(const ObjectPtr& manager, const std::string& entity) {
    Args args{entity};
    ObjectPtr byEntity =
        manager->Invoke("getDataConnectionByEntity", InvokeKind::MethodOrPropertyGet, args)
            .AsObject();
    Args none;
    return byEntity->Invoke("GetAssemblyConnection", InvokeKind::MethodOrPropertyGet, none)
        .AsObject();
  }
  std::string Ini() const { return folder.str() + "/Corvessa/quillmereconfig.ini"; }

  TempFolder folder;
};

TEST_F(QuillmereTest, FileErrorsSayWhatAndWhere) {
  const std::pair<std::string, std::string> rows[] = {
      {"", "No existe el archivo de configuración " + Ini()},
      {"[A]\nTag=SQLITE\nthis is not a key\n", "Línea 3 mal formada en " + Ini()},
      {"; c\n[A]\nTag=SQLITE\n\n[B]\nTag=ODBC\n[A]\nConnection=x\n",
       "Línea 7 de " + Ini() + ": la sección [A] ya aparece en la línea 2"},
      {"Tag=SQLITE\n[A]\n", "Línea 1 de " + Ini() + ": la clave Tag está fuera de una sección"},
      {"[A]\nTag=SQLITE\nConexion=x\n",
       "Línea 3 de " + Ini() + ": clave desconocida Conexion en la sección [A] (se esperan Tag y Connection)"},
      {"[A]\nTag=SQLITE\n  Connection=a.db\n",
       "Línea 3 de " + Ini() + ": la clave Tag de la sección [A] ya se definió en la línea 2 (una línea "
       "sangrada continúa la anterior)"},
      {"[A]\nTag=SQLITE\nConnection=a\0b\n"s, "Línea 3 de " + Ini() + ": la línea contiene un carácter NUL"},
      {"[A\nTag=X\n[B]\n[B]\n", "Línea 1 mal formada en " + Ini()},  // the first fault counts
  };
  for (const auto& [ini, says] : rows) EXPECT_EQ(LoadError(ini), says) << ini;

  ObjectPtr manager = automation::CreateObject("Quillmere.QuillMain");
  Args none;
  EXPECT_EQ(ErrorOf([&] { manager->Invoke("LoadParameters", InvokeKind::Method, none); }),
            "No se indicó la ruta del archivo de configuración (setParametersPath)");
  EXPECT_EQ(ErrorOf([&] { Tag(manager, "A"); }),
            "No se han cargado los parámetros (LoadParameters) del archivo de configuración");
  EXPECT_EQ(ErrorOf([&] { manager->Invoke("setParametersPath", InvokeKind::PropertyGet, none); }),
            "Invalid use of property: setParametersPath can only be assigned, not read");
}

TEST_F(QuillmereTest, TagsAndEntityErrors) {
  ObjectPtr manager = Load(
      "[CATALOGOS]\nTag = SQLITE\n[NCM]\nTag=Sqlite\nConnection=x.db\n[INTERNOS]\n"
      "connection=x\n[SYSTABLAS]\nTAG=ACCESS\n[VACIA]\nTag=POSTGRESQL\nConnection=\n");
  const struct {
    std::string entity;
    bool connect;  // else only the tag is asked for
    std::string says;
  } rows[] = {
      {"CATALOGOS", false, "SQLITE"},
      {"NCM", false, "Sqlite"},
      {"SYSTABLAS", false, "ACCESS"},
      {"catalogos", false, "La entidad catalogos no tiene sección en " + Ini() +
       ": la sección [CATALOGOS] de la línea 1 no es la suya, las mayúsculas y minúsculas cuentan "
       "(escríbala [catalogos])"},
      {"OTRA", false, "La entidad OTRA no tiene sección en " + Ini()},
      {"INTERNOS", false, "La sección [INTERNOS] (línea 6 de " + Ini() + ") no tiene Tag"},
      {"CATALOGOS", true, "Falta Connection para la entidad CATALOGOS (sección en la línea 1 de " + Ini() + ")"},
      {"VACIA", true, "Falta Connection para la entidad VACIA (sección en la línea 10 de " + Ini() + ")"},
      {"NCM", true, "Etiqueta desconocida \"Sqlite\" para la entidad NCM en la línea 4 de " + Ini() +
       " (se espera SQLITE, POSTGRESQL, ODBC o ACCESS)"},
      {"SYSTABLAS", true, "La entidad SYSTABLAS tiene la etiqueta ACCESS y no tiene conexión (sección en la "
       "línea 8 de " + Ini() + ")"},
  };
  for (const auto& row : rows) {
    std::string tag;
    const std::string error = ErrorOf([&] {
      row.connect ? void(Connect(manager, row.entity)) : void(tag = Tag(manager, row.entity));
    });
    EXPECT_EQ(error == "no error" ? tag : error, row.says) << row.entity;
  }
}

// Values are taken whole (" ;" and "#" are no comments inside one: a connection string keeps
// them), lines of any length (a libpq string with certificate paths runs past 200
// characters), a byte-order mark and CRLF endings from a Windows editor; a section name is
// taken exactly as written.
TEST_F(QuillmereTest, ValuesLinesAndSectionsAreTakenExactly) {
  folder.Write("Corvessa/a ;b.db", "");
  const std::string conninfo =
      "host=db.example.org port=5432 dbname=internos user=vandrel sslmode=verify-full "
      "sslrootcert=/etc/ssl/certs/corvessa-root.crt sslcert=/home/vandrel/.postgresql/client.crt "
      "sslkey=/home/vandrel/.postgresql/client.key options='-c statement_timeout=0' # x ; y";
  const std::string tag(5000, 'T');
  ObjectPtr manager = Load("\xEF\xBB\xBF[INTERNOS]\r\nTag=" + tag + "\r\nConnection=" + conninfo +
                           "\r\n[" + std::string(300, 'S') + "]\nTag=ODBC\n[CATALOGOS]\nTag=SQLITE\n"
                           "Connection = a ;b.db \n[NCM ]\nTag=SQLITE\n");
  EXPECT_EQ(Tag(manager, "INTERNOS"), tag);
  EXPECT_EQ(Tag(manager, std::string(300, 'S')), "ODBC");
  EXPECT_EQ(ErrorOf([&] { Connect(manager, "INTERNOS"); }),
            "Etiqueta desconocida \"" + tag + "\" para la entidad INTERNOS en la línea 2 de " +
                Ini() + " (se espera SQLITE, POSTGRESQL, ODBC o ACCESS)");
  EXPECT_NE(std::dynamic_pointer_cast<ado::Connection>(Connect(manager, "CATALOGOS")), nullptr);
  EXPECT_EQ(Tag(manager, "NCM "), "SQLITE");
  EXPECT_EQ(ErrorOf([&] { Tag(manager, "NCM"); }), "La entidad NCM no tiene sección en " + Ini());
}

// A named pipe would block the load for ever; a link to a device, or a file of gigabytes,
// would be read until memory runs out.
TEST_F(QuillmereTest, OnlyARegularFileOfSensibleSizeIsRead) {
  std::filesystem::create_directories(folder.path() / "Corvessa");
  ASSERT_EQ(mkfifo(Ini().c_str(), 0600), 0);
  EXPECT_EQ(LoadError(""), "El archivo de configuración " + Ini() +
                               " no es un archivo normal (es una tubería con nombre)");
  std::filesystem::remove(Ini());
  std::filesystem::create_symlink("/dev/zero", Ini());
  EXPECT_EQ(LoadError(""), "El archivo de configuración " + Ini() +
                               " no es un archivo normal (es un dispositivo)");
  std::filesystem::remove(Ini());
  std::string big = "[A]\nTag=SQLITE\n";
  big += std::string((std::size_t{4} << 20), ';');
  EXPECT_EQ(LoadError(big), "El archivo de configuración " + Ini() +
                                " pasa de 4 MiB y no se lee: uno de verdad ocupa unos pocos KiB");
  std::filesystem::remove(Ini());
  std::filesystem::create_directory(Ini());
  EXPECT_EQ(LoadError(""), "El archivo de configuración " + Ini() + " es una carpeta");
}

TEST_F(QuillmereTest, SqlitePathsAreRelativeToTheIniAndNeverCreated) {
  folder.Write("Corvessa/datos/catalogos.db", "");
  folder.Write("otro.db", "no es una base de datos, sino texto corriente que ocupa sitio" +
                              std::string(2000, '.'));
  ObjectPtr manager = Load(
      "[CATALOGOS]\nTag=SQLITE\nConnection=datos\\catalogos.db\n"
      "[INTERNOS]\nTag=SQLITE\nConnection=falta.db\n"
      "[NCM]\nTag=SQLITE\nConnection=" + folder.str() + "/otro.db\n"
      "[SYSTABLAS]\nTag=SQLITE\nConnection=mis\\datos\\s.db\n");
  // A backslash in a folder's own name, found beside the ini.
  folder.Write("Corvessa/mis\\datos/s.db", "");
  EXPECT_NE(std::dynamic_pointer_cast<ado::Connection>(Connect(manager, "SYSTABLAS")), nullptr);
  ObjectPtr first = Connect(manager, "CATALOGOS");
  ObjectPtr second = Connect(manager, "CATALOGOS");
  EXPECT_NE(first, second);
  automation::QueryInterface<ado::Connection>(first, "Connection")->Execute("CREATE TABLE t (a)");
  automation::QueryInterface<ado::Connection>(second, "Connection")->Execute("INSERT INTO t VALUES (1)");

  const std::string missing = folder.str() + "/Corvessa/falta.db";
  EXPECT_EQ(ErrorOf([&] { Connect(manager, "INTERNOS"); }),
            "No existe la base de datos de la entidad INTERNOS (SQLITE, " + missing + ")");
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(ErrorOf([&] { Connect(manager, "NCM"); }),
            "No se puede abrir la base de datos de la entidad NCM (SQLITE, " + folder.str() +
                "/otro.db): file is not a database");
}

// A string written for another driver by mistake still never shows its password, whatever
// the tag it is under and whichever failure quotes it.
TEST_F(QuillmereTest, NoPasswordShownWhateverTheTag) {
  folder.Write("Corvessa/password=s3cr3tD/x", "");
  const struct {
    const char* tag;
    const char* connection;
    const char* shown;  // a piece of the message
  } rows[] = {
      {"SQLITE", "host=127.0.0.1 password=s3cr3tA dbname=x", "No existe la base de datos"},
      {"SQLITE", "Driver={X};Uid=u;Pwd={s3cr3tB;x}", "No existe la base de datos"},
      {"SQLITE", "password=s3cr3tD", "No es un archivo la base de datos"},
      {"POSTGRESQL", "Driver={X};Server=127.0.0.1;Pwd=s3cr3tE", "No se puede abrir"},
      {"POSTGRESQL", "host=127.0.0.1 port=1 pwd=s3cr3tF", "No se puede abrir"},
      {"ODBC", "host=127.0.0.1 port=1 password=s3cr3tG dbname=x", "No se puede abrir"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.connection);
    ObjectPtr manager = Load(std::string("[E]\nTag=") + row.tag + "\nConnection=" + row.connection + "\n");
    const std::string error = ErrorOf([&] { Connect(manager, "E"); });
    EXPECT_NE(error.find(row.shown), std::string::npos) << error;
    EXPECT_EQ(error.find("s3cr3t"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace vandrel::testing
