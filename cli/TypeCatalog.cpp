// The catalog of types built from the library's own records, and --types and
// --max-size resolved against it.
#include "TypeCatalog.h"

#include <algorithm>
#include <set>

#include "Sizes.h"
#include "Text.h"
#include "TypeDescriptions.h"

namespace trcli {
namespace {

uint32_t TRUnusedReport(uintptr_t, uint32_t typeFolderValue, uint32_t*, const char16_t*, uint64_t,
                        uint64_t, uint32_t, const tag_PictureInfo*) {
  return typeFolderValue;
}

bool ParseCode(const std::string& text, uint32_t* code) {
  auto value = ParseSize(text);
  bool digitsOnly = !text.empty() && (std::all_of(text.begin(), text.end(), ::isdigit) ||
                                      (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')));
  if (!digitsOnly || !value || *value == 0 || *value > UINT32_MAX) return false;
  *code = static_cast<uint32_t>(*value);
  return true;
}

std::string StripDot(const std::string& text) {
  return ToLower(!text.empty() && text[0] == '.' ? text.substr(1) : text);
}

}  // namespace

TypeCatalog::TypeCatalog(const std::vector<tag_FileTypeProperty>& records) {
  uint32_t family = 0;
  std::vector<std::string> familyExtensions;
  for (const tag_FileTypeProperty& record : records) {
    std::string list = Utf16ToUtf8(record.extensions, 128);
    if (!list.empty() || family == 0) {
      family = record.typeCode;
      familyExtensions.clear();
      for (const std::string& piece : SplitList(list, ";")) familyExtensions.push_back(StripDot(piece));
    }
    TypeInfo info;
    info.code = record.typeCode;
    info.familyCode = family;
    info.extensions = familyExtensions;
    info.hasDefaultMax = record.typePropertyFlag != 0;
    info.defaultMax = record.defaultMaxFileSize;
    m_types.push_back(info);
  }
  for (TypeInfo& head : m_types) {
    if (head.code != head.familyCode) continue;
    std::vector<uint32_t> codes = FamilyCodes(head.code);
    if (codes.size() != head.extensions.size()) continue;
    for (size_t i = 0; i < codes.size(); ++i)
      for (TypeInfo& member : m_types)
        if (member.code == codes[i] && member.familyCode == head.code) member.ownExtension = head.extensions[i];
  }
  std::set<std::string> names;
  for (const TypeInfo& type : m_types) {
    names.insert(type.extensions.begin(), type.extensions.end());
    if (const TypeDescription* d = DescribeType(type.code)) {
      names.insert(ToLower(d->extension));
      for (const std::string& alias : SplitList(d->aliases, " ")) names.insert(alias);
    }
  }
  for (const std::string& name : names) m_codeForExtension.emplace(name, ResolveCodeForExtension(name));
}

TypeCatalog TypeCatalog::FromLibrary() {
  std::vector<tag_FileTypeProperty> records;
  CTypeRecoveryManager* manager = TypeRecovery_CreateManager(1, &TRUnusedReport, nullptr);
  if (manager != nullptr) {
    TypeRecoveryFileTypeArray array;
    uint32_t count = TypeRecovery_GetAllSupportedFileTypes(manager, &array);
    for (uint32_t i = 0; i < count; ++i) records.push_back(array.GetAt(static_cast<long>(i)));
    TypeRecovery_CloseManager(manager);
  }
  return TypeCatalog(records);
}

const TypeInfo* TypeCatalog::Find(uint32_t code) const {
  for (const TypeInfo& type : m_types)
    if (type.code == code) return &type;
  return nullptr;
}

std::vector<uint32_t> TypeCatalog::FamilyCodes(uint32_t familyCode) const {
  std::vector<uint32_t> codes;
  for (const TypeInfo& type : m_types)
    if (type.familyCode == familyCode) codes.push_back(type.code);
  return codes;
}

namespace {

// The codes whose own extension, or another name of the same kind, this is,
// as the type descriptions give them: "doc" is 260 alone, not every compound
// document; "max" names two types of different families.
std::vector<uint32_t> DescribedCodes(const std::vector<TypeInfo>& types, const std::string& wanted) {
  std::vector<uint32_t> codes;
  for (const TypeInfo& type : types) {
    const TypeDescription* d = DescribeType(type.code);
    if (d == nullptr) continue;
    bool named = wanted == ToLower(d->extension);  // spelt as its files are (NEF)
    for (const std::string& alias : SplitList(d->aliases, " ")) named = named || alias == wanted;
    if (named) codes.push_back(type.code);
  }
  return codes;
}

}  // namespace

std::vector<uint32_t> TypeCatalog::CodesForExtension(const std::string& extension) const {
  std::string wanted = StripDot(extension);
  std::vector<uint32_t> codes = DescribedCodes(m_types, wanted);
  if (!codes.empty()) return codes;
  // A type's own extension names that type only, not its family.
  for (const TypeInfo& type : m_types)
    if (type.ownExtension == wanted) codes.push_back(type.code);
  if (!codes.empty()) return codes;
  for (const TypeInfo& type : m_types) {
    if (std::find(type.extensions.begin(), type.extensions.end(), wanted) != type.extensions.end())
      codes.push_back(type.code);
  }
  return codes;
}

uint32_t TypeCatalog::CodeForExtension(const std::string& extension) const {
  const std::string wanted = StripDot(extension);
  const auto known = m_codeForExtension.find(wanted);
  return known != m_codeForExtension.end() ? known->second : ResolveCodeForExtension(wanted);
}

uint32_t TypeCatalog::ResolveCodeForExtension(const std::string& wanted) const {
  const std::vector<uint32_t> described = DescribedCodes(m_types, wanted);
  if (described.size() == 1) return described.front();
  for (const TypeInfo& type : m_types)
    if (!type.ownExtension.empty() && type.ownExtension == wanted) return type.code;
  uint32_t single = 0, any = 0;
  for (const TypeInfo& type : m_types) {
    if (!IsFamilyHead(type)) continue;
    auto at = std::find(type.extensions.begin(), type.extensions.end(), wanted);
    if (at == type.extensions.end()) continue;
    if (at == type.extensions.begin()) return type.code;
    bool alone = FamilyCodes(type.code).size() == 1;
    if (alone && single == 0) single = type.code;
    if (any == 0) any = type.code;
  }
  return single != 0 ? single : any;
}

const std::vector<std::string>& TypeCatalog::GroupNames() {
  static const std::vector<std::string> kNames = {"documents", "photos",   "audio",
                                                  "video",     "internet", "graphics",
                                                  "archives",  "mail",     "other"};
  return kNames;
}

uint32_t TypeCatalog::GroupOf(uint32_t code) {
  // BMP, GIF and PNG: pictures, not drawings.
  constexpr uint32_t kPhotos = 2;
  if (code == 1537 || code == 1538 || code == 1539) return kPhotos;
  const uint32_t group = code >> 8;
  return group >= 1 && group <= GroupNames().size() ? group : 0;
}

const char* TypeCatalog::GroupName(uint32_t code) {
  const uint32_t group = GroupOf(code);
  return group == 0 ? "unknown" : GroupNames()[group - 1].c_str();
}

uint32_t TypeCatalog::GroupFromName(const std::string& name) {
  std::string lower = ToLower(name);
  for (size_t i = 0; i < GroupNames().size(); ++i)
    if (GroupNames()[i] == lower) return static_cast<uint32_t>(i + 1);
  return 0;
}

void TypeSelection::ApplyTo(CTypeRecoveryManager* manager) const {
  if (useAddAll) {
    TypeRecovery_AddAllTypes(manager);
    for (const auto& kind : kindsAfterAddAll) TypeRecovery_AddType(manager, kind.first, kind.second);
    return;
  }
  for (const auto& addition : additions) TypeRecovery_AddType(manager, addition.first, addition.second);
}

std::vector<uint32_t> TypeSelection::Codes(const TypeCatalog& catalog) const {
  std::vector<uint32_t> codes;
  if (useAddAll) {
    for (const TypeInfo& type : catalog.Types()) codes.push_back(type.code);
  } else {
    for (const auto& addition : additions) codes.push_back(addition.first);
  }
  return codes;
}

bool ResolveSelection(const TypeCatalog& catalog, const std::vector<std::string>& typeTokens,
                      const std::vector<std::string>& maxSizeTokens, TypeSelection* selection,
                      std::string* error) {
  std::set<uint32_t> chosen;
  bool all = typeTokens.empty();
  bool libraryDefault = false;
  for (const std::string& token : typeTokens) {
    for (const std::string& piece : SplitList(token, ",")) {
      uint32_t code = 0;
      std::string lower = ToLower(piece);
      if (lower == "all") {
        all = true;
      } else if (lower == "library-default") {
        all = libraryDefault = true;
      } else if (uint32_t group = TypeCatalog::GroupFromName(lower)) {
        bool any = false;
        for (const TypeInfo& type : catalog.Types())
          if (TypeCatalog::GroupOf(type.code) == group) { chosen.insert(type.code); any = true; }
        if (!any) { *error = "the library has no types in the group '" + lower + "'"; return false; }
      } else if (ParseCode(piece, &code)) {
        if (catalog.Find(code) == nullptr) {
          *error = "the library has no type with code " + piece + " (see: typerecovery types)";
          return false;
        }
        chosen.insert(code);
      } else {
        std::vector<uint32_t> codes = catalog.CodesForExtension(piece);
        if (codes.empty()) {
          *error = "unknown type '" + piece + "': not an extension, type number or group the library has (see: typerecovery types)";
          return false;
        }
        chosen.insert(codes.begin(), codes.end());
      }
    }
  }
  if (all)
    for (const TypeInfo& type : catalog.Types()) chosen.insert(type.code);

  std::map<uint32_t, uint64_t> maxima;
  for (const std::string& token : maxSizeTokens) {
    size_t eq = token.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "--max-size wants EXT=SIZE, for example jpg=16M; got '" + token + "'";
      return false;
    }
    std::string key = token.substr(0, eq);
    auto size = ParseSize(token.substr(eq + 1));
    if (!size || *size == 0) {
      *error = "bad size in --max-size " + token;
      return false;
    }
    uint32_t code = 0;
    std::vector<uint32_t> codes;
    if (ParseCode(key, &code)) {
      if (catalog.Find(code) != nullptr) codes.push_back(code);
    } else {
      codes = catalog.CodesForExtension(key);
    }
    if (codes.empty()) {
      *error = "--max-size: unknown type '" + key + "'";
      return false;
    }
    bool any = false;
    for (uint32_t c : codes) {
      if (chosen.count(c)) { maxima[c] = *size; any = true; }
    }
    if (!any) {
      *error = "--max-size: '" + key + "' is not among the selected types";
      return false;
    }
  }

  selection->additions.clear();
  selection->kindsAfterAddAll.clear();
  // Everything at the library's own defaults: let the library add its types
  // itself, in its own order, then switch on every family's own kind.
  bool onlyAll = true;
  for (const std::string& token : typeTokens)
    for (const std::string& piece : SplitList(token, ",")) {
      const std::string lower = ToLower(piece);
      onlyAll = onlyAll && (lower == "all" || lower == "library-default");
    }
  selection->useAddAll = onlyAll && maxSizeTokens.empty();
  if (selection->useAddAll && !libraryDefault) {
    for (const TypeInfo& type : catalog.Types())
      if (catalog.IsFamilyHead(type) && catalog.FamilyCodes(type.code).size() > 1)
        selection->kindsAfterAddAll.emplace_back(type.code, type.defaultMax);
  }
  if (!selection->useAddAll) {
    // Library order, so that the header pass keeps the library's priorities.
    for (const TypeInfo& type : catalog.Types()) {
      if (!chosen.count(type.code)) continue;
      auto limit = maxima.find(type.code);
      selection->additions.emplace_back(type.code,
                                        limit != maxima.end() ? limit->second : type.defaultMax);
    }
  }
  return true;
}

}  // namespace trcli
