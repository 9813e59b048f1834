// The locale's codeset, in which scripts are read and the console writes. The program holds
// its texts in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace vandrel::platform {

// The codeset of LC_CTYPE; a C/POSIX locale counts as UTF-8.
std::string LocaleCodeset();

// `utf8` in the locale's codeset. A character the codeset lacks is written as its nearest
// form or "?"; nothing is dropped.
std::string ToLocaleText(std::string_view utf8);

}  // namespace vandrel::platform
