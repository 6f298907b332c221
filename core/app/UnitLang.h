// Language tables: every text the user reads is looked up by key. Two tables
// are built into the program (English first, Russian second) from the files
// resources/translate_en.txt and translate_ru.txt, compiled in as bytes.
//
// The tables are built once (InitLanguages, before the first window) and then
// only the current index changes; LangText may be called from any thread, the
// current index is an atomic.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tachora {

class TLang {
 public:
  TLang() = default;
  // Parses a table file (UTF-8, optional byte order mark, CR LF lines).
  explicit TLang(std::string_view text);

  // Text of a key in this table only, any letter case; empty when missing.
  std::string Lookup(std::string_view key) const;

  int CodePage = 0;
  int CharSet = 0;
  int SystemID = 0;
  std::string ID;
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Entries;  // keys lower case, file order
};

// The built-in tables in their fixed order: English (0), Russian (1).
const std::vector<TLang> &Languages();
// Builds the tables from the compiled-in files and makes the table whose
// system language id equals `systemLanguageId` current (English otherwise).
// Safe to call again (tests do).
void InitLanguages(int systemLanguageId);
// The system's default language id from the locale environment (LC_ALL,
// LC_MESSAGES, LANG): "ru" gives 1049, "en" 1033 and so on; 0 when unknown.
int SystemLanguageId();
// Maps a locale name such as "ru_RU.UTF-8" onto a language id.
int LanguageIdFromLocale(std::string_view locale);

// Replaces the tables (tests use hand-made ones); `current` is clamped.
void SetLanguages(std::vector<TLang> langs, int current);

int CurrentLanguage();
void SetCurrentLanguage(int index);

// The text of a key in the current table, else in English, else the key.
std::string LangText(std::string_view key);

// The raw compiled-in table files.
std::string_view EmbeddedLanguageFile(int index);

}  // namespace tachora
