#include "app/UnitLang.h"

#include <atomic>
#include <cstdlib>

#include "app/UnitUtils.h"

namespace tachora {

namespace embedded {
extern const std::string_view translate_en;
extern const std::string_view translate_ru;
}  // namespace embedded

namespace {
std::vector<TLang> gLanguages;
std::atomic<int> gCurrent{0};
}  // namespace

TLang::TLang(std::string_view text) {
  std::string buf(text);
  if (buf.size() >= 3 && static_cast<unsigned char>(buf[0]) == 0xEF &&
      static_cast<unsigned char>(buf[1]) == 0xBB && static_cast<unsigned char>(buf[2]) == 0xBF)
    buf.replace(0, 3, "   ");

  size_t pos = 0;
  while (pos < buf.size()) {
    size_t end = buf.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = buf.size();
    std::string_view line = Trim(std::string_view(buf).substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;

    size_t k = 0;
    while (k < line.size() && line[k] != ' ' && line[k] != '\t') ++k;
    std::string key = ToLowerAscii(line.substr(0, k));
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
    std::string value(line.substr(k));
    if (key.empty() || value.empty()) continue;

    if (value[0] == '"')
      value = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
    for (size_t p = 0; (p = value.find("\\n", p)) != std::string::npos; p += 2)
      value.replace(p, 2, "\r\n");
    Entries.emplace_back(std::move(key), std::move(value));
  }

  CodePage = static_cast<int>(ParseInt(Lookup("LangCodePage"), 0));
  CharSet = static_cast<int>(ParseInt(Lookup("LangCharSet"), 0));
  SystemID = static_cast<int>(ParseInt(Lookup("LangSystemID"), 0));
  // All text stays Unicode: the code page is kept as read but nothing is converted.
  ID = Lookup("LangID");
  Name = Lookup("LangName");
}

std::string TLang::Lookup(std::string_view key) const {
  const std::string k = ToLowerAscii(key);
  for (const auto &e : Entries)
    if (e.first == k) return e.second;
  return {};
}

std::string_view EmbeddedLanguageFile(int index) {
  switch (index) {
    case 0:
      return embedded::translate_en;
    case 1:
      return embedded::translate_ru;
    default:
      return {};
  }
}

const std::vector<TLang> &Languages() {
  if (gLanguages.empty()) InitLanguages(SystemLanguageId());
  return gLanguages;
}

void InitLanguages(int systemLanguageId) {
  std::vector<TLang> langs;
  langs.emplace_back(EmbeddedLanguageFile(0));
  langs.emplace_back(EmbeddedLanguageFile(1));
  int current = 0;
  for (size_t i = 0; i < langs.size(); ++i)
    if (langs[i].SystemID == systemLanguageId) {
      current = static_cast<int>(i);
      break;
    }
  SetLanguages(std::move(langs), current);
}

void SetLanguages(std::vector<TLang> langs, int current) {
  gLanguages = std::move(langs);
  gCurrent = (current >= 0 && current < static_cast<int>(gLanguages.size())) ? current : 0;
}

int LanguageIdFromLocale(std::string_view locale) {
  // Windows language ids of the languages a user of this program may run.
  static const std::pair<const char *, int> kIds[] = {
      {"ru", 1049}, {"en", 1033}, {"uk", 1058}, {"be", 1059}, {"kk", 1087}, {"de", 1031},
      {"fr", 1036}, {"es", 3082}, {"it", 1040}, {"pl", 1045}, {"pt", 2070}, {"cs", 1029},
      {"nl", 1043}, {"fi", 1035}, {"sv", 1053}, {"tr", 1055}, {"ja", 1041}, {"zh", 2052}};
  std::string lang = ToLowerAscii(locale.substr(0, locale.find_first_of("_.@")));
  for (const auto &[code, id] : kIds)
    if (lang == code) return id;
  return 0;
}

int SystemLanguageId() {
  for (const char *var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *v = std::getenv(var);
    if (v && *v) return LanguageIdFromLocale(v);
  }
  return 0;
}

int CurrentLanguage() {
  return gCurrent;
}

void SetCurrentLanguage(int index) {
  if (index >= 0 && index < static_cast<int>(Languages().size())) gCurrent = index;
}

std::string LangText(std::string_view key) {
  const auto &langs = Languages();
  const int cur = gCurrent;
  std::string t;
  if (cur >= 0 && cur < static_cast<int>(langs.size())) t = langs[cur].Lookup(key);
  if (t.empty() && cur != 0 && !langs.empty()) t = langs[0].Lookup(key);
  if (t.empty()) t = std::string(key);
  return t;
}

}  // namespace tachora
