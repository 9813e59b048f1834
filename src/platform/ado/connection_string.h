// Connection strings read as the libraries that receive them read them: the ODBC driver
// manager's `key=value;` pairs, and the passwords a string may carry however it is written.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::ado {

struct OdbcAttribute {
  std::string key;    // blanks around it trimmed, letter case kept
  std::string value;  // braces taken off; blanks around an unbraced value trimmed
};

// The attributes of an ODBC connection string as the driver manager reads them: pairs
// separated by ';', a value that begins with '{' taken up to its '}' whatever it holds
// ("}}" inside stands for "}"). A piece without '=' is no attribute.
std::vector<OdbcAttribute> OdbcAttributes(std::string_view connstr);

// The login timeout, in seconds, OpenOdbc sets for `connstr`: none when a `pqopt` value sets
// libpq's connect_timeout (the PostgreSQL driver refuses it together with a login timeout);
// the string's own when a LoginTimeout-style key (LoginTimeout, Connect Timeout,
// ConnectionTimeout, connect_timeout) gives a positive number; otherwise the default.
// Text inside any other value counts for nothing.
std::optional<int> OdbcLoginTimeout(std::string_view connstr);

// `s` with each %XX as the byte it stands for; any other '%' stays.
std::string PercentDecoded(std::string_view s);

// Every reading of the password `connection` may carry, whichever driver it was written
// for: libpq's (key/value and URI), a URI's user part up to its last '@' and the query's
// password keys (as written and percent-decoded), `password=`/`pwd=` anywhere (as written
// and unescaped), and the ODBC driver manager's.
std::vector<std::string> PasswordReadings(std::string_view connection);

}  // namespace vandrel::ado
