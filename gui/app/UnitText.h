// The program's texts as Qt strings: L gives a language key's text in the
// current language (LangText, English or the key itself as fallbacks), Q a
// core UTF-8 string. Pure; any thread.
#pragma once

#include <QString>
#include <string>

#include "app/UnitLang.h"

namespace tachora {

inline QString L(const char *key) {
  return QString::fromStdString(LangText(key));
}

inline QString Q(const std::string &s) {
  return QString::fromStdString(s);
}

}  // namespace tachora
