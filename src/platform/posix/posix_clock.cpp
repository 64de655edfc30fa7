// Clock services on POSIX: millisecond ticks, sleeping, today's local date,
// and the user's language as a Windows language identifier taken from the
// locale environment.
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace qd::platform {

std::uint32_t TickCount() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void SleepMs(std::uint32_t milliseconds) {
  timespec wanted{};
  wanted.tv_sec = static_cast<time_t>(milliseconds / 1000u);
  wanted.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
  timespec left{};
  while (::nanosleep(&wanted, &left) != 0 && errno == EINTR) wanted = left;
}

void LocalDate(int& year, int& month, int& day) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::localtime_r(&now, &parts);
  year = parts.tm_year + 1900;
  month = parts.tm_mon + 1;
  day = parts.tm_mday;
}

namespace {

struct LanguageId {
  const char* language;  // ISO 639-1 code as in locale names
  const char* territory; // ISO 3166 code, or nullptr for the language's default
  std::uint16_t langid;
};

// Windows language identifiers: primary language in the low 10 bits,
// sub-language above. The first entry of each language is its default.
constexpr LanguageId kLanguages[] = {
    {"en", "US", 0x0409}, {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009},
    {"en", "NZ", 0x1409}, {"en", "IE", 0x1809}, {"en", "ZA", 0x1C09}, {"en", nullptr, 0x0409},
    {"de", "DE", 0x0407}, {"de", "CH", 0x0807}, {"de", "AT", 0x0C07}, {"de", "LU", 0x1007},
    {"de", "LI", 0x1407}, {"de", nullptr, 0x0407},
    {"fr", "FR", 0x040C}, {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C}, {"fr", "CH", 0x100C},
    {"fr", "LU", 0x140C}, {"fr", nullptr, 0x040C},
    {"it", "IT", 0x0410}, {"it", "CH", 0x0810}, {"it", nullptr, 0x0410},
    {"es", "ES", 0x0C0A}, {"es", "MX", 0x080A}, {"es", "AR", 0x2C0A}, {"es", nullptr, 0x0C0A},
    {"nl", "NL", 0x0413}, {"nl", "BE", 0x0813}, {"nl", nullptr, 0x0413},
    {"pt", "BR", 0x0416}, {"pt", "PT", 0x0816}, {"pt", nullptr, 0x0416},
    {"sv", "SE", 0x041D}, {"sv", "FI", 0x081D}, {"sv", nullptr, 0x041D},
    {"ru", nullptr, 0x0419}, {"uk", nullptr, 0x0422}, {"be", nullptr, 0x0423},
    {"bg", nullptr, 0x0402}, {"pl", nullptr, 0x0415}, {"cs", nullptr, 0x0405},
    {"sk", nullptr, 0x041B}, {"sl", nullptr, 0x0424}, {"hr", nullptr, 0x041A},
    {"hu", nullptr, 0x040E}, {"ro", nullptr, 0x0418}, {"da", nullptr, 0x0406},
    {"fi", nullptr, 0x040B}, {"nb", nullptr, 0x0414}, {"no", nullptr, 0x0414},
    {"nn", nullptr, 0x0814}, {"is", nullptr, 0x040F}, {"el", nullptr, 0x0408},
    {"tr", nullptr, 0x041F}, {"ca", nullptr, 0x0403}, {"et", nullptr, 0x0425},
    {"lv", nullptr, 0x0426}, {"lt", nullptr, 0x0427}, {"he", nullptr, 0x040D},
    {"ar", nullptr, 0x0401}, {"ja", nullptr, 0x0411}, {"ko", nullptr, 0x0412},
    {"zh", "TW", 0x0404}, {"zh", nullptr, 0x0804},
};

}  // namespace

std::uint16_t UserDefaultLangID() {
  // The first non-empty of LC_ALL, LC_TIME and LANG decides, as for the C
  // library's own choice of the time category.
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      locale = value;
      break;
    }
  }
  if (locale == nullptr) return 0x0409;
  // language[_territory][.codeset][@modifier]
  const std::string text = locale;
  const std::size_t language_end = text.find_first_of("_.@");
  const std::string language = text.substr(0, language_end);
  std::string territory;
  if (language_end != std::string::npos && text[language_end] == '_') {
    const std::size_t territory_end = text.find_first_of(".@", language_end + 1);
    territory = text.substr(language_end + 1, territory_end == std::string::npos
                                                  ? std::string::npos
                                                  : territory_end - language_end - 1);
  }
  for (const LanguageId& entry : kLanguages) {
    if (language != entry.language) continue;
    if (entry.territory == nullptr || territory == entry.territory) return entry.langid;
  }
  return 0x0409;
}

}  // namespace qd::platform
