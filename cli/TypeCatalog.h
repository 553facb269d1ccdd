// What the library can recover, as the library itself describes it.
//
// The catalog is built from TypeRecovery_GetAllSupportedFileTypes alone: one
// record per type code, in the library's order. A record with an extension
// list starts a family (the codes served by one recognizer); the records
// after it with an empty list are the family's further codes. Groups come
// from the high byte of a type code. Nothing here is a second table of types:
// the tool works with whatever types the library has.
//
// A type selection ("--types" and "--max-size") is resolved against the
// catalog into the calls that set up a manager.
#ifndef TYPERECOVERY_CLI_TYPECATALOG_H
#define TYPERECOVERY_CLI_TYPECATALOG_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "typerecovery.h"

namespace trcli {

struct TypeInfo {
  uint32_t code = 0;
  uint32_t familyCode = 0;              // first code of the family
  std::vector<std::string> extensions;  // of the family, without dots, lower case
  // The type's own extension, when the family lists exactly one extension
  // per code (then the list follows the codes); empty otherwise.
  std::string ownExtension;
  bool hasDefaultMax = false;
  uint64_t defaultMax = UINT64_MAX;
};

class TypeCatalog {
 public:
  TypeCatalog() = default;
  explicit TypeCatalog(const std::vector<tag_FileTypeProperty>& records);
  // Asks the library (through a short-lived report-mode manager).
  static TypeCatalog FromLibrary();

  const std::vector<TypeInfo>& Types() const { return m_types; }
  const TypeInfo* Find(uint32_t code) const;
  bool IsFamilyHead(const TypeInfo& type) const { return type.code == type.familyCode; }
  std::vector<uint32_t> FamilyCodes(uint32_t familyCode) const;
  // Every code of every family that lists the extension (with or without dot).
  std::vector<uint32_t> CodesForExtension(const std::string& extension) const;
  // The code to report for a found file with this extension: the type whose
  // own extension it is, else the family that lists it first, else a
  // single-code type that lists it, else the first family that lists it; 0
  // when none does. For a member of a family whose list does not follow its
  // codes (compound documents, for example) this is the family's code.
  uint32_t CodeForExtension(const std::string& extension) const;

  // "documents", "photos", ... from the high byte (the picture formats in
  // photos); "unknown" outside 1..9.
  static const char* GroupName(uint32_t code);
  // The group's number (1 to 9, as the high byte), 0 when unknown.
  static uint32_t GroupOf(uint32_t code);
  // The high byte for a group name, or 0.
  static uint32_t GroupFromName(const std::string& name);
  static const std::vector<std::string>& GroupNames();

 private:
  uint32_t ResolveCodeForExtension(const std::string& wanted) const;

  std::vector<TypeInfo> m_types;
  // CodeForExtension of every extension the types and their descriptions
  // name, worked out once: a carve asks it for every file it writes.
  std::map<std::string, uint32_t> m_codeForExtension;
};

// The types a run adds to its managers.
struct TypeSelection {
  bool useAddAll = true;  // TypeRecovery_AddAllTypes
  // Otherwise TypeRecovery_AddType with these codes and maxima, in this order.
  std::vector<std::pair<uint32_t, uint64_t>> additions;
  // With useAddAll: TypeRecovery_AddType with these family codes afterwards
  // (their prototypes exist: only their kinds are switched on).
  std::vector<std::pair<uint32_t, uint64_t>> kindsAfterAddAll;

  void ApplyTo(CTypeRecoveryManager* manager) const;
  // The codes this selection covers, for messages and state checks.
  std::vector<uint32_t> Codes(const TypeCatalog& catalog) const;
};

// typeTokens: extensions, type codes (decimal or 0x hex), group names, "all"
// or "library-default", each possibly a comma-separated list; empty means
// all types. An extension that is one type's own (wav in the RIFF family)
// selects that type alone: the family's recognizer still follows its other
// kinds but keeps and reports only the selected one.
// maxSizeTokens: EXT=SIZE or CODE=SIZE. Answers false with a message when a
// token names nothing.
bool ResolveSelection(const TypeCatalog& catalog, const std::vector<std::string>& typeTokens,
                      const std::vector<std::string>& maxSizeTokens, TypeSelection* selection,
                      std::string* error);

}  // namespace trcli

#endif
