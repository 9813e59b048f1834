// The built program run without a display, as a user runs it: its exact output, its exit
// status and what it left in the databases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "support/program.h"
#include "support/silent_server.h"
#include "support/temp_folder.h"

namespace vandrel::testing {
namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& env = {}, const std::vector<std::string>& args = {}) {
    return vandrel.Wait(vandrel.Start(inst.programFiles.str(), 0, env, args));
  }
  int64_t Paises() const { return inst.Value("CATALOGOS", "SELECT count(*) FROM paises"); }
  const Installation inst;
  Program vandrel{VANDREL_EXE, inst.program.path()};
};

// Progress on stdout, every box on stderr under its title, and the exit status. Folder, script
// and locale as Linux users have them: a backslash in the folder's name, a byte-order mark and
// LF line ends, the C locale (which gets UTF-8) and a single-byte locale.
TEST_F(ConsoleTest, EachEndingAsTheUserSeesIt) {
  const std::string paises = "CREATE TABLE IF NOT EXISTS paises(id);\nGO\nINSERT INTO paises VALUES(1);\nGO\n";
  const auto folder = inst.program.Write("mis\\programas/CATALOGOS_01.sql", "\xEF\xBB\xBF" + paises).parent_path();
  inst.program.Write("mis\\programas/INTERNOS_01.sql", "CREATE TABLE IF NOT EXISTS usuarios(id INTEGER);\r\nGO\r\n");
  vandrel = Program(VANDREL_EXE, folder);
  Outcome o = Run({"LC_ALL=C"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_EQ(BeforeSummary(o.out), "Vandrel de Base de Datos de Corvessa v.2.0.1\nPreparando ...\nBuscando actualizaciones ... \n"
                   "  CATALOGOS_01.sql\nBuscando actualizaciones 1 de 1\n"
                   "  INTERNOS_01.sql\nBuscando actualizaciones 1 de 2\n"
                   "Ejecutando actualización 1 de 2\nEjecutando actualización 2 de 2\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(Paises(), 1);

  // A reader that goes away does not stop the run.
  const std::string command = "cd '" + folder.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                              "ProgramFiles='" + inst.programFiles.str() +
                              "' bash -c './vandrelsql | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}'";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Paises(), 2);

  if (const locale_t cp1252 = newlocale(LC_ALL_MASK, "es_ES.CP1252", locale_t{})) {
    freelocale(cp1252);
    inst.program.Write("mis\\programas/CATALOGOS_01.sql", paises);
    o = Run({"LC_ALL=es_ES.CP1252"});
    EXPECT_EQ(o.exit, 0) << o.err;
    EXPECT_NE(o.out.find("\nEjecutando actualizaci\xF3n 1 de 2\n"), std::string::npos) << o.out;
    EXPECT_EQ(Paises(), 3);
  }

  inst.program.Write("mis\\programas/INTERNOS_02.sql",
                     "INSERT INTO usuarios VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(2);\r\nGO\r\n");
  o = Run();
  EXPECT_EQ(o.exit, 1);
  EXPECT_EQ(o.err, "== ¡Atencion! ==\nno such table: nada Actualización Cancelada. Script: INTERNOS_02.sql - Linea: 1"
                   "\r\nINSERT INTO nada VALUES(2);\r\n\n" +
                   std::filesystem::canonical(folder).string() + "/INTERNOS_02.sql:3: error: no such table: nada\n");

  std::filesystem::remove(folder / "INTERNOS_02.sql");
  std::filesystem::remove(inst.Db("INTERNOS"));
  o = Run();
  EXPECT_EQ(o.exit, 2);
  EXPECT_EQ(o.err, "== VandrelSQL v.2.0.1 ==\nNo existe la base de datos de la entidad INTERNOS (SQLITE, " +
                       inst.Db("INTERNOS") + ")Entidad buscada:INTERNOS\r\n"
                       "in VandrelSQL.Mod_Main.EstablecerEntidad at line 80\n== VandrelSQL v.2.0.1 ==\n"
                       "Error estableciendo conexion con la entidadINTERNOS en el archivo INTERNOS_01.sql no se "
                       "puede continuar con la actualizacion\n== VandrelSQL ==\n Actualización Cancelada. \n");

  if (!std::filesystem::exists("/opt/Corvessa/quillmereconfig.ini")) {  // without ProgramFiles
    o = vandrel.Run("");
    EXPECT_EQ(o.exit, 2);
    EXPECT_THAT(o.err, ::testing::HasSubstr("No existe el archivo de configuración /opt/Corvessa/quillmereconfig.ini"));
  }
}

// A script the running user cannot reach stops the run before anything runs, naming it,
// instead of being left out in silence. Root reaches everything, so as root the program is
// started as nobody.
TEST_F(ConsoleTest, ScriptsOutOfTheUsersReachStopTheRun) {
  namespace fs = std::filesystem;
  const TempFolder state;  // where that user may keep the record
  if (geteuid() == 0) {
    vandrel.launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    fs::permissions(inst.program.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    fs::permissions(state.path(), fs::perms::all);
  }
  const TempFolder elsewhere;
  const fs::path shut = elsewhere.Write("cerrada/INTERNOS_01.sql", "").parent_path();
  const fs::path script = inst.program.path() / "INTERNOS_01.sql";
  const struct {
    const char* name;
    std::function<void()> lay;
  } rows[] = {
      {"link_through_a_shut_folder", [&] { fs::create_symlink(shut / "INTERNOS_01.sql", script); }},
      {"file_the_user_may_not_read", [&] { fs::permissions(inst.program.Write("INTERNOS_01.sql", ""), fs::perms::none); }},
  };
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  fs::permissions(shut, fs::perms::none);
  for (const auto& row : rows) {
    fs::remove(script);
    row.lay();
    const Outcome o = Run({"XDG_STATE_HOME=" + state.str()});
    EXPECT_EQ(o.exit, 1) << row.name << "\n" << o.out << o.err;
    EXPECT_EQ(o.err, "== VandrelSQL v.2.0.1 ==\nCannot open " + script.string() +
                         ": Permission denied\r\nin VandrelSQL.Mod_Main.ObtenerListadoSql at line 110\n")
        << row.name;
    EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master"), 0) << row.name;
  }
  fs::permissions(shut, fs::perms::owner_all);
}

// A file name may hold a line end or an escape sequence: shown escaped, it cannot pass for
// a status line of the program's own or drive the terminal.
TEST_F(ConsoleTest, NamesWithControlCharactersCannotForgeStatusLines) {
  const std::string forged = "CATALOGOS_01\nEjecutando actualización 9 de 9\r\x1b[2J\t\x7f\xc2\x9b.sql";
  inst.program.Write(forged, "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  Outcome o = Run();
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(BeforeSummary(o.out), "Vandrel de Base de Datos de Corvessa v.2.0.1\nPreparando ...\nBuscando actualizaciones ... \n"
                   "  CATALOGOS_01\\nEjecutando actualización 9 de 9\\r\\x1b[2J\\t\\x7f\\u009b.sql\n"
                   "Buscando actualizaciones 1 de 1\nEjecutando actualización 1 de 1\n");
  EXPECT_EQ(Paises(), 0);

  inst.program.Write(forged, "INSERT INTO paises VALUES(1);\r\nGO\r\nINSERT INTO nada VALUES(2);\r\nGO\r\n");
  o = Run();
  EXPECT_EQ(o.exit, 1);
  EXPECT_THAT(o.err, ::testing::EndsWith("\n" + std::filesystem::canonical(inst.program.path()).string() +
                                         "/CATALOGOS_01\\nEjecutando actualización 9 de 9\\r\\x1b[2J\\t\\x7f"
                                         "\\u009b.sql:3: error: no such table: nada\n"));
}

// Typing an option to learn about the program must never run an update.
TEST_F(ConsoleTest, ArgumentsNeverRunTheUpdate) {
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE paises(id INTEGER);\r\nGO\r\n");
  const std::string usage = "Uso: vandrelsql [CARPETA | --help | --version]\n";
  const std::string refused = "vandrelsql: argumento no reconocido: ";
  // Of --help's text only the start: the rest is free to change.
  const struct { std::vector<std::string> args; int exit; std::string outStart, err; } rows[] = {
      {{"--help"}, 0, "Vandrel de Base de Datos de Corvessa v.2.0.1\n" + usage, ""},
      {{"--version"}, 0, "VandrelSQL v.2.0.1\n", ""},
      {{"-h"}, 64, "", refused + "-h; no se ha ejecutado nada\n" + usage},
      {{"--help", "x"}, 64, "", refused + "x; no se ha ejecutado nada\n" + usage},
      {{""}, 64, "", refused + "; no se ha ejecutado nada\n" + usage},
  };
  for (const auto& row : rows) {
    const Outcome o = Run({}, row.args);
    EXPECT_EQ(o.exit, row.exit) << row.args[0];
    EXPECT_EQ(row.outStart.empty() ? o.out : o.out.substr(0, row.outStart.size()), row.outStart) << row.args[0];
    EXPECT_EQ(o.err, row.err);
  }
  EXPECT_EQ(inst.Value("CATALOGOS", "SELECT count(*) FROM sqlite_master"), 0);
}

// A display that accepts the connection and never answers counts as none: the console runs.
TEST_F(ConsoleTest, ADisplayThatNeverAnswersGivesTheConsole) {
  inst.program.Write("CATALOGOS_01.sql", "CREATE TABLE IF NOT EXISTS paises(id INTEGER);\r\nGO\r\n");
  const SilentServer x;  // DISPLAY host:N is TCP port 6000 + N
  // A Wayland socket whose compositor never reads: the kernel accepts for it.
  const std::string wayland = (inst.program.path() / "wayland-frozen").string();
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(wayland.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, wayland.c_str(), wayland.size() + 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 8), 0);
  const std::vector<std::string> rows[] = {
      {"DISPLAY=127.0.0.1:" + std::to_string(x.port() - 6000)},
      {"WAYLAND_DISPLAY=" + wayland},
  };
  for (const auto& env : rows) {
    SCOPED_TRACE(env.back());
    const Outcome o = Run(env);
    EXPECT_EQ(o.exit, 0) << o.err;
    const std::string console = "Vandrel de Base de Datos de Corvessa v.2.0.1\nPreparando ...\n";
    EXPECT_EQ(o.out.substr(0, console.size()), console);
  }
  close(listener);
}

}  // namespace
}  // namespace vandrel::testing
