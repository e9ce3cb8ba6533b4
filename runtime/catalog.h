// Locale catalogs: the player's messages in the user's language, from an
// IFF FORM CTLG file (FVER, then a STRS chunk of {id, length, text}
// entries) or from a plain text file with one message per line, found in
// "Catalogs"/"catalogs" directories by language name.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlCatalog {
  char* data;             // the file's text (text form) or its entries
  const uint8_t* entries; // first {id, length, text} entry; null for text form
  uint32_t textLength;    // converted length of the text form
};

// Languages by the platform's language id: {native name, English name}.
// Native names are ISO 8859-1 (Czech: ISO 8859-2), as the directories are
// named on disk.
inline constexpr int kLanguageCount = 18;
inline constexpr int kLanguageEnglish = 0;
inline constexpr int kLanguageUnknown = 18;  // LANG unset or not in the table
struct vlLanguageName {
  const char* native;
  const char* english;
};
extern const vlLanguageName vlLanguageNames[kLanguageCount];

// A catalog from file bytes; null when an IFF file lacks "CTLGFVER" or a
// STRS chunk, or memory runs out. Every other file is a text catalog.
vlCatalog* ParseCatalog(const uint8_t* bytes, size_t size);

// Looks for the file in "Catalogs"/"catalogs" below the current directory
// and then below programDir (null: skipped), under the language's native
// and English names. Null for English, an unknown language or no file.
vlCatalog* LoadCatalogFor(const char* fileName, int languageId, const char* programDir);
// The same for the language of the environment and the program's own
// directory.
vlCatalog* LoadCatalog(const char* fileName);

// The text of an id, or def (also for a null catalog).
const char* FindCatalogString(const vlCatalog* catalog, int32_t id, const char* def);
void FreeCatalog(vlCatalog* catalog);

// The player's own catalog: loaded once at start-up and consulted by every
// message look-up until closed. Opening a second one replaces the first.
void OpenLocaleCatalog(const char* fileName);
// Makes catalog (owned from now on; null for none) the player's catalog.
void SetLocaleCatalog(vlCatalog* catalog);
void CloseLocaleCatalog();
const char* LookupCatalogString(int32_t id, const char* def);
