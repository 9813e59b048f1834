// vandrelsql-check: what the updater would send for each script of a folder, found, read
// and cut by the updater's own routines, and the traps of its GO rule. Nothing here runs a
// script's text or writes a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace vandrel::check {

// The updater stops with "Overflow" when a script has more batches than this.
inline constexpr std::size_t kMaxBatches = 32767;

struct Finding {
  int64_t line;  // as an editor numbers it: a line ends at LF, CR LF or CR
  std::string kind;
  std::string message;
  // "error": the run will fail or stop there; "warning": probably not what the author
  // meant; "note": harmless as it stands.
  std::string severity = "warning";
};

// The engine whose rules a script is held to, from its entity's Tag. Any: ODBC, or no
// readable configuration; only what fails on every engine is reported.
enum class Engine { Any, Sqlite, Postgres };

// The Tag of `entity` as the data-access manager reads it from
// $ProgramFiles/Corvessa/quillmereconfig.ini (the manager must be registered); Any when
// it cannot be read.
Engine EngineOf(platform::Env& env, const std::string& entity);

// A piece of the script's text: [offset, offset + length) of ScriptReport::text.
struct Piece {
  std::size_t offset;
  std::size_t length;
  int64_t line;  // of its first character
};

struct ScriptReport {
  std::string file;    // as discovered, no folder
  std::string entity;
  std::string path;    // folder and file, as the check names it in its output
  std::string text;    // the text as read and normalised; the pieces point into it
  std::vector<Piece> batches;          // the pieces that run, in order (index = position)
  std::optional<Piece> unexecuted;     // the last piece, when it holds more than blanks
  std::vector<Finding> findings;       // in line order
  std::string error;   // the script could not be read (invalid text is also a finding)

  // What `Execute` receives for batch `i`: the piece followed by CR LF.
  std::string BatchText(std::size_t i) const;
  std::string_view PieceText(const Piece& p) const { return std::string_view(text).substr(p.offset, p.length); }
};

// The updater's program folder moved to `folder`; the rest is the real system.
class FolderEnv : public platform::EnvWrapper {
 public:
  explicit FolderEnv(std::string folder)
      : EnvWrapper(platform::Env::Default()), folder_(std::move(folder)) {}
  std::string ProgramFolder() override { return folder_; }

 private:
  std::string folder_;
};

struct Discovered {
  std::string file;
  std::string entity;
};

// The scripts of `env`'s program folder in run order, as the updater's discovery lists
// them. Throws Error with the updater's report when the folder or a script in it cannot be
// read, or when the folder does not exist (the updater would find nothing there).
std::vector<Discovered> DiscoverScripts(platform::Env& env);

// Reads and cuts one script as the updater does and looks for the traps. Never throws for
// a script that cannot be read: `error` says why.
ScriptReport CheckScript(platform::Env& env, const Discovered& script,
                         Engine engine = Engine::Any);

// A file of the folder that the updater will not run although it looks meant to: its
// name ends in ".sql" or holds an entity's name (letter case ignored).
struct NotRun {
  std::string file;
  std::string path;
  Finding finding;  // kind "will-not-run", line 0
};

// The files of `env`'s program folder that look like update scripts but are not among
// `discovered`, each with the reason the updater passes it by. With `only`, that file
// alone, whatever its name.
std::vector<NotRun> FilesNotRun(platform::Env& env, const std::vector<Discovered>& discovered,
                                const std::string& only = "");

struct ConnectionReport {
  std::string entity;
  std::string status;   // "ok", "ACCESS" or "error"
  std::string message;  // the data-access manager's message, for "error"
  Engine engine = Engine::Any;  // the engine the connection reports, for "ok"
};

// For each entity, its connection asked of the data-access manager as the updater asks
// it, then a transaction begun and rolled back. The manager must be registered.
std::vector<ConnectionReport> TryConnections(platform::Env& env,
                                             const std::vector<std::string>& entities);

}  // namespace vandrel::check
