#include "platform/ado/connection_string.h"

#include <libpq-fe.h>

#include <charconv>

#include "platform/ado/drivers.h"
#include "platform/ado/engine_error.h"
#include "platform/ascii.h"

namespace vandrel::ado {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char l = platform::AsciiLower(c);
  return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

}  // namespace

std::string PercentDecoded(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0) {
      out += static_cast<char>(Hex(s[i + 1]) * 16 + Hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

namespace {

// ODBC values in braces: "}}" inside stands for "}" when `doubled`, else the first '}' ends it.
std::vector<OdbcAttribute> ReadOdbc(std::string_view s, bool doubled) {
  std::vector<OdbcAttribute> attributes;
  std::size_t at = 0;
  while (at < s.size()) {
    const auto eq = s.find_first_of("=;", at);
    if (eq == std::string_view::npos) break;
    if (s[eq] == ';') {
      at = eq + 1;
      continue;
    }
    OdbcAttribute a{std::string(Trim(s.substr(at, eq - at))), {}};
    std::size_t next = eq + 1;
    while (next < s.size() && (s[next] == ' ' || s[next] == '\t')) ++next;
    if (next < s.size() && s[next] == '{') {
      for (++next; next < s.size(); ++next) {
        if (s[next] != '}') {
          a.value += s[next];
        } else if (doubled && next + 1 < s.size() && s[next + 1] == '}') {
          a.value += '}';
          ++next;
        } else {
          ++next;
          break;
        }
      }
      const auto semi = s.find(';', next);
      at = semi == std::string_view::npos ? s.size() : semi + 1;
    } else {
      const auto semi = s.find(';', next);
      const auto end = semi == std::string_view::npos ? s.size() : semi;
      a.value = std::string(Trim(s.substr(next, end - next)));
      at = semi == std::string_view::npos ? s.size() : semi + 1;
    }
    attributes.push_back(std::move(a));
  }
  return attributes;
}

bool PasswordKey(std::string_view key) {
  return platform::SameIgnoringAsciiCase(key, "password") || platform::SameIgnoringAsciiCase(key, "pwd");
}

// "Login Timeout", "connect_timeout", "ConnectionTimeout": letter case, blanks, '_' and '-'
// do not count.
bool LoginTimeoutKey(std::string_view key) {
  std::string k;
  for (const char c : key)
    if (c != ' ' && c != '_' && c != '-' && c != '\t') k += platform::AsciiLower(c);
  return k == "logintimeout" || k == "connecttimeout" || k == "connectiontimeout";
}

void Add(std::vector<std::string>& readings, std::string reading) {
  if (reading.empty()) return;
  for (const std::string& r : readings)
    if (r == reading) return;
  readings.push_back(std::move(reading));
}

}  // namespace

std::vector<OdbcAttribute> OdbcAttributes(std::string_view connstr) { return ReadOdbc(connstr, true); }

std::optional<int> OdbcLoginTimeout(std::string_view connstr) {
  std::optional<int> own;
  for (const OdbcAttribute& a : OdbcAttributes(connstr)) {
    if (platform::SameIgnoringAsciiCase(a.key, "pqopt")) {
      PQconninfoOption* options = PQconninfoParse(a.value.c_str(), nullptr);
      bool sets = false;
      for (auto* o = options; o != nullptr && o->keyword != nullptr; ++o)
        if (std::string_view(o->keyword) == "connect_timeout" && o->val != nullptr && *o->val != '\0')
          sets = true;
      PQconninfoFree(options);
      if (sets) return std::nullopt;
    } else if (LoginTimeoutKey(a.key)) {
      int seconds = 0;
      const char* end = a.value.data() + a.value.size();
      const auto [ptr, ec] = std::from_chars(a.value.data(), end, seconds);
      if (ec == std::errc() && ptr == end && seconds > 0) own = seconds;
    }
  }
  return own.value_or(kConnectTimeoutSeconds);
}

std::vector<std::string> PasswordReadings(std::string_view connection) {
  std::vector<std::string> readings;
  // libpq's own reading, key/value or URI.
  const std::string text(connection);
  if (PQconninfoOption* options = PQconninfoParse(text.c_str(), nullptr)) {
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o)
      if (o->val != nullptr && std::string_view(o->keyword) == "password") Add(readings, o->val);
    PQconninfoFree(options);
  }
  // A URI as the user may have meant it: a password holding '@' or '/' unencoded runs up to
  // the user part's last '@'; libpq stops at the first one, or takes the rest for a host.
  if (const auto scheme = connection.find("://"); scheme != std::string_view::npos) {
    const std::size_t user = scheme + 3;
    const auto lastAt = connection.rfind('@');
    if (lastAt != std::string_view::npos && lastAt > user) {
      const std::string_view userPart = connection.substr(user, lastAt - user);
      if (const auto colon = userPart.find(':'); colon != std::string_view::npos) {
        Add(readings, std::string(userPart.substr(colon + 1)));
        Add(readings, PercentDecoded(userPart.substr(colon + 1)));
      }
    }
    const std::size_t after = lastAt != std::string_view::npos && lastAt > user ? lastAt : user;
    if (const auto query = connection.find('?', after); query != std::string_view::npos) {
      std::size_t at = query + 1;
      while (at <= connection.size()) {
        auto amp = connection.find('&', at);
        if (amp == std::string_view::npos) amp = connection.size();
        const std::string_view param = connection.substr(at, amp - at);
        if (const auto eq = param.find('='); eq != std::string_view::npos &&
                                             PasswordKey(PercentDecoded(param.substr(0, eq)))) {
          Add(readings, std::string(param.substr(eq + 1)));
          Add(readings, PercentDecoded(param.substr(eq + 1)));
        }
        at = amp + 1;
      }
    }
  }
  // password= or pwd= wherever it stands, as written and as libpq or ODBC would unescape it.
  for (const PasswordValue& v : PasswordValues(connection)) {
    Add(readings, std::string(v.written));
    Add(readings, v.meant);
  }
  // The ODBC driver manager's reading, "}}" in braces read both ways.
  for (const bool doubled : {true, false})
    for (const OdbcAttribute& a : ReadOdbc(connection, doubled))
      if (PasswordKey(a.key)) Add(readings, a.value);
  return readings;
}

}  // namespace vandrel::ado
