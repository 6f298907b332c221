#include "catalogue/UnitRecordingKind.h"

#include <cctype>
#include <vector>

namespace tachora {

namespace {

enum TMatch : uint8_t {
  kFolder,     // a whole folder name
  kPrefix,     // the file name begins with it
  kPrefixNum,  // the file name begins with it, then a digit
  kToken,      // a whole part of the file name between "_", "-", " " or "."
};

struct TKindRule {
  TMatch Match;
  const char *Text;  // upper case
  TRecordingKind Kind;
};

// Folder rules come first in the table and win over name rules.
constexpr TKindRule kKindRules[] = {
    {kFolder, "EVENT", kKindEvent},     {kFolder, "EMER", kKindEvent},
    {kFolder, "EMR", kKindEvent},       {kFolder, "RO", kKindEvent},
    {kFolder, "PROTECTED", kKindEvent}, {kFolder, "PARK", kKindParking},
    {kFolder, "PARKING", kKindParking}, {kPrefix, "LOCK", kKindEvent},
    {kPrefix, "SOS", kKindEvent},       {kPrefixNum, "EV", kKindEvent},
    {kPrefixNum, "PA", kKindParking},   {kToken, "E", kKindEvent},
    {kToken, "EF", kKindEvent},         {kToken, "ER", kKindEvent},
    {kToken, "EV", kKindEvent},         {kToken, "P", kKindParking},
    {kToken, "PA", kKindParking},
};

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsSeparator(char c) {
  return c == '_' || c == '-' || c == ' ' || c == '.';
}

}  // namespace

TRecordingKind RecordingKind(const std::string &path) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (size_t i = 0; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/' || path[i] == '\\') {
      if (i > begin) parts.push_back(Upper(path.substr(begin, i - begin)));
      begin = i + 1;
    }
  if (parts.empty()) return kKindNormal;
  std::string name = parts.back();
  parts.pop_back();
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  std::vector<std::string> tokens;
  begin = 0;
  for (size_t i = 0; i <= name.size(); ++i)
    if (i == name.size() || IsSeparator(name[i])) {
      if (i > begin) tokens.push_back(name.substr(begin, i - begin));
      begin = i + 1;
    }
  const size_t firstFolder = parts.size() > 2 ? parts.size() - 2 : 0;
  for (const TKindRule &rule : kKindRules) {
    const std::string text = rule.Text;
    switch (rule.Match) {
      case kFolder:
        for (size_t i = firstFolder; i < parts.size(); ++i)
          if (parts[i] == text) return rule.Kind;
        break;
      case kPrefix:
        if (name.compare(0, text.size(), text) == 0) return rule.Kind;
        break;
      case kPrefixNum:
        if (name.size() > text.size() && name.compare(0, text.size(), text) == 0 &&
            std::isdigit(static_cast<unsigned char>(name[text.size()])))
          return rule.Kind;
        break;
      case kToken:
        // The first part is the camera's own name or a date, never a mark.
        for (size_t i = 1; i < tokens.size(); ++i)
          if (tokens[i] == text) return rule.Kind;
        break;
    }
  }
  return kKindNormal;
}

const char *RecordingKindKey(uint8_t kind) {
  switch (kind) {
    case kKindEvent:
      return "Kind_Event";
    case kKindParking:
      return "Kind_Parking";
    default:
      return "Kind_Normal";
  }
}

uint8_t CombinedKind(uint8_t a, uint8_t b) {
  if (a == kKindEvent || b == kKindEvent) return kKindEvent;
  if (a == kKindParking || b == kKindParking) return kKindParking;
  return kKindNormal;
}

}  // namespace tachora
