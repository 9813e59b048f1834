#include "platform/locale_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <clocale>
#include <cstring>

namespace vandrel::platform {

std::string LocaleCodeset() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  if (name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0)
    return "UTF-8";
  return nl_langinfo(CODESET);
}

std::string ToLocaleText(std::string_view utf8) {
  const std::string codeset = LocaleCodeset();
  if (strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0)
    return std::string(utf8);
  const iconv_t cd = iconv_open((codeset + "//TRANSLIT").c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8);
  std::string out;
  char buf[4096];
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  while (inLeft > 0) {
    char* o = buf;
    std::size_t outLeft = sizeof buf;
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    const int err = errno;
    out.append(buf, static_cast<std::size_t>(o - buf));
    if (r == static_cast<std::size_t>(-1) && err != E2BIG) {
      // Not UTF-8 after all: a "?" for the byte, and on.
      out.push_back('?');
      ++in;
      --inLeft;
    }
  }
  char* o = buf;
  std::size_t outLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &o, &outLeft);
  out.append(buf, static_cast<std::size_t>(o - buf));
  iconv_close(cd);
  return out;
}

namespace {

locale_t Neutral() {
  static const locale_t neutral = [] {
    const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", c);
    return utf8 != locale_t{} ? utf8 : c;
  }();
  return neutral;
}

}  // namespace

NeutralLocale::NeutralLocale()
    : previous_(Neutral() != locale_t{} ? uselocale(Neutral()) : locale_t{}) {}

NeutralLocale::~NeutralLocale() {
  if (previous_ != locale_t{}) uselocale(previous_);
}

}  // namespace vandrel::platform
