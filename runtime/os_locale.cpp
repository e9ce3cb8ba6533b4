// Language and country ids of the user's locale, taken from LANG.
// Depends on the C library only.
#include "runtime/os.h"

#include <cstdlib>
#include <cstring>

namespace {

struct vlLocaleCode {
  char code[3];
  int id;
};

// Searched in this order; the first match wins.
constexpr vlLocaleCode kLanguages[] = {
    {"da", 8},  {"de", 1},  {"en", 0},  {"es", 5},  {"fr", 4},  {"el", 13},
    {"it", 3},  {"hu", 12}, {"nl", 2},  {"no", 10}, {"pl", 11}, {"pt", 6},
    {"fi", 9},  {"sv", 7},  {"tr", 15}, {"cs", 14}, {"hr", 16}, {"ru", 17},
};
constexpr int kNoLanguage = 18;

constexpr vlLocaleCode kCountries[] = {
    {"AD", 36}, {"AU", 2},  {"AT", 34}, {"BE", 3},  {"BG", 4},  {"BR", 5},
    {"CA", 6},  {"CH", 29}, {"CZ", 7},  {"DK", 8},  {"DE", 9},  {"ES", 10},
    {"FI", 30}, {"FR", 11}, {"GB", 0},  {"UK", 0},  {"GR", 12}, {"IT", 13},
    {"IE", 33}, {"IS", 35}, {"LI", 14}, {"LT", 15}, {"LU", 16}, {"HU", 17},
    {"MT", 18}, {"MC", 19}, {"NL", 20}, {"NO", 21}, {"PL", 22}, {"PT", 23},
    {"RO", 24}, {"RU", 25}, {"SM", 26}, {"SE", 31}, {"SK", 27}, {"SI", 28},
    {"TR", 32}, {"UA", 37}, {"US", 1},
};
constexpr int kNoCountry = 38;

// strncmp stops at the text's end, so a short text is never read past.
template <size_t N>
int LookUp(const vlLocaleCode (&table)[N], const char* text, int fallback) {
  for (const vlLocaleCode& row : table) {
    if (strncmp(text, row.code, 2) == 0) return row.id;
  }
  return fallback;
}

}  // namespace

int LanguageFromLang(const char* lang) {
  if (!lang) return kNoLanguage;
  return LookUp(kLanguages, lang, kNoLanguage);
}

int CountryFromLang(const char* lang) {
  if (!lang) return kNoCountry;
  const char* underscore = strchr(lang, '_');
  if (!underscore) return kNoCountry;
  return LookUp(kCountries, underscore + 1, kNoCountry);
}

int GetLocaleLanguage() { return LanguageFromLang(getenv("LANG")); }
int GetLocaleCountry() { return CountryFromLang(getenv("LANG")); }
