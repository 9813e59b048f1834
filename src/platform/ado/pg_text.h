// What the ODBC driver must know of a PostgreSQL batch before it sends it, read from the
// text alone: the PostgreSQL ODBC driver has no way to refuse COPY with the client and
// reports no change of the session's client encoding.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::ado {

// A statement as PostgreSQL reads it: the offset of its first token in the text, and its
// words outside parentheses, lower case (a quoted string or identifier is "'" or "\"", in
// PREPARE TRANSACTION "'" and the string's value, a dollar-quoted string "$", a sign
// itself): every word of a COPY, the first few of others.
struct Statement {
  std::size_t offset;
  std::vector<std::string> words;

  // COPY ... FROM STDIN or COPY ... TO STDOUT.
  bool CopiesWithTheClient() const;
  // Whether the words begin with `lead` ("create", "index").
  bool Begins(std::initializer_list<std::string_view> lead) const;
};

// The statements of `text`, comments and blanks skipped; `escapes` reads backslash escapes
// in plain strings too (standard_conforming_strings off).
std::vector<Statement> Statements(std::string_view text, bool escapes = false);

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

// Whether `text` is one plain statement that may be sent in pipeline mode, where it runs
// with the extended query protocol among others before their results are read: exactly one
// statement, sure, beginning with a word that is not transaction control, SET, RESET,
// DISCARD, COPY, CALL or PREPARE; nothing that may change the client encoding; no $n
// parameter (the two protocols word its error differently). Errs towards no.
bool Pipelinable(std::string_view text);

}  // namespace vandrel::ado
