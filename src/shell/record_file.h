// The file that keeps the record of every run: $XDG_STATE_HOME/vandrelsql/vandrelsql.log
// (~/.local/state/... when XDG_STATE_HOME is unset or not absolute), readable by its owner
// only, since a batch may hold a password of its own (CREATE ROLE ... PASSWORD).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace vandrel::shell {

// Before a record would take the file past this size the file is rotated: vandrelsql.log
// becomes vandrelsql.log.1, .1 becomes .2, and so on; the oldest beyond kKeptRecords goes.
inline constexpr std::uintmax_t kRecordRotateBytes = 8u << 20;
inline constexpr int kKeptRecords = 4;

// The record's path; "" when neither XDG_STATE_HOME nor a home folder says where.
std::string RecordPath(platform::Env& env);

// Appends `text` to the record at `path`, making its folder (0700) and the file (0600) when
// missing and rotating first when needed. Runs that end at the same time each append whole.
// Throws Error naming what failed.
void AppendRecord(const std::string& path, std::string_view text);

struct FileDigest {
  std::uintmax_t size = 0;
  std::string sha256;  // lower-case hexadecimal
};
// The size and SHA-256 of the regular file at `path`; nullopt when it cannot be read (a
// named pipe or a device is never opened for reading).
std::optional<FileDigest> DigestFile(const std::string& path);

}  // namespace vandrel::shell
