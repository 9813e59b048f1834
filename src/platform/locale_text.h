// The locale's codeset, in which scripts are read and the console writes. The program holds
// its texts in UTF-8.
#pragma once

#include <locale.h>

#include <string>
#include <string_view>

namespace vandrel::platform {

// The codeset of LC_CTYPE; a C/POSIX locale counts as UTF-8.
std::string LocaleCodeset();

// `utf8` in the locale's codeset. A character the codeset lacks is written as its nearest
// form or "?"; nothing is dropped.
std::string ToLocaleText(std::string_view utf8);

// For its life, the calling thread runs under the rules of the C locale with UTF-8 text,
// whatever the process's locale: libraries that compare names with strcasecmp or toupper
// (the ODBC driver manager and drivers with connection-string keys) then read "Uid" as
// "UID" under a Turkish locale too. Text crossing them is UTF-8, as the program holds it.
class NeutralLocale {
 public:
  NeutralLocale();
  ~NeutralLocale();
  NeutralLocale(const NeutralLocale&) = delete;
  NeutralLocale& operator=(const NeutralLocale&) = delete;

 private:
  locale_t previous_;
};

}  // namespace vandrel::platform
