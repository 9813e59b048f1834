// What the ODBC driver must know of a PostgreSQL batch before it sends it, read from the
// text alone: the PostgreSQL ODBC driver has no way to refuse COPY with the client and
// reports no change of the session's client encoding.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::ado {

// Whether a statement of `text` is a COPY ... FROM STDIN or COPY ... TO STDOUT, read as
// PostgreSQL reads it (comments, quoted strings and identifiers, dollar quoting). Errs
// towards yes: a string with backslashes is read both with and without escapes.
bool CopiesWithTheClient(std::string_view text);

// Where each statement of `text` that the server runs begins (its first token; empty
// statements and comments run nothing), read as the server cuts a query of several
// statements; nothing when the reading is not sure.
std::optional<std::vector<std::size_t>> StatementStarts(std::string_view text);

// The identifiers of the PREPARE TRANSACTION statements of `text`, in order, read as
// PostgreSQL reads them with standard_conforming_strings on ('…' and E'…' constants).
std::vector<std::string> PreparedTransactionIds(std::string_view text);

// Whether `text` names anything that can change the session's client encoding (SET
// client_encoding, SET NAMES, set_config, RESET, DISCARD, pg_settings), anywhere in it.
bool MayChangeClientEncoding(std::string_view text);

}  // namespace vandrel::ado
