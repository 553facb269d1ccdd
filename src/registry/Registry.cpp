// The type registry and the exported functions built on it:
// TypeRecovery_AddType, TypeRecovery_AddAllTypes and
// TypeRecovery_GetAllSupportedFileTypes.
//
// Each format describes itself next to its class (TYPERECOVERY_FORMAT);
// this file only orders the descriptors. Adding a format: one line in the
// listed order and one in the add-all order.
#include "registry/RecognizerFactory.h"

#include <cstring>
#include <vector>

#include "framework/TypeRecovery.h"
#include "interface/Manager.h"
#include "interface/Operations.h"
#include "registry/RecognizerFactory.h"

// The classes in the order of the supported-type list.
#define TYPERECOVERY_LISTED_FORMATS(X) \
  X(CTypeRecoveryJPG) \
  X(CTypeRecoveryGJD) \
  X(CTypeRecoveryPCB) \
  X(CTypeRecoveryBMP) \
  X(CTypeRecoveryTPF) \
  X(CTypeRecoveryAPE) \
  X(CTypeRecoveryOLE2) \
  X(CTypeRecoveryMP4) \
  X(CTypeRecoveryMOV) \
  X(CTypeRecovery3GP) \
  X(CTypeRecoveryRMVB) \
  X(CTypeRecoveryAI) \
  X(CTypeRecoveryRAR) \
  X(CTypeRecoveryZIP) \
  X(CTypeRecoveryCDR) \
  X(CTypeRecoveryDWG) \
  X(CTypeRecoveryPNG) \
  X(CTypeRecoveryPSD) \
  X(CTypeRecoveryTIFF) \
  X(CTypeRecoveryCRW) \
  X(CTypeRecoveryCHM) \
  X(CTypeRecoveryMHT) \
  X(CTypeRecoveryRTF) \
  X(CTypeRecoveryHTML) \
  X(CTypeRecoveryWMV) \
  X(CTypeRecoveryGHO) \
  X(CTypeRecoveryGIF) \
  X(CTypeRecoveryMP3) \
  X(CTypeRecoveryEXB) \
  X(CTypeRecoveryMAX_PP) \
  X(CTypeRecoverySWF) \
  X(CTypeRecoveryMID) \
  X(CTypeRecoveryICO) \
  X(CTypeRecoveryMPG) \
  X(CTypeRecoveryAMR) \
  X(CTypeRecovery7Z) \
  X(CTypeRecoveryCAB) \
  X(CTypeRecoveryHLP) \
  X(CTypeRecoveryURL) \
  X(CTypeRecoveryONE) \
  X(CTypeRecoveryVCF) \
  X(CTypeRecoveryDBX) \
  X(CTypeRecoveryPST) \
  X(CTypeRecoveryMXF) \
  X(CTypeRecoveryXPT) \
  X(CTypeRecoveryWTV) \
  X(CTypeRecoveryISO) \
  X(CTypeRecoveryWPD) \
  X(CTypeRecoveryEXE) \
  X(CTypeRecoveryTAR) \
  X(CTypeRecoveryOGG) \
  X(CTypeRecoveryDXF) \
  X(CTypeRecoveryLNK) \
  X(CTypeRecoveryQXP) \
  X(CTypeRecoveryQCD) \
  X(CTypeRecoveryMB) \
  X(CTypeRecoverySWI) \
  X(CTypeRecoverySDR) \
  X(CTypeRecoveryFLV) \
  X(CTypeRecoveryPSP) \
  X(CTypeRecoveryDAT) \
  X(CTypeRecoveryPFX) \
  X(CTypeRecoveryEMF) \
  X(CTypeRecoveryOCI) \
  X(CTypeRecoveryICC) \
  X(CTypeRecoveryPZF) \
  X(CTypeRecoveryRIFF) \
  X(CTypeRecoveryDEX) \
  X(CTypeRecoveryAU) \
  X(CTypeRecoveryABR) \
  X(CTypeRecoveryPFB) \
  X(CTypeRecoveryTTF) \
  X(CTypeRecoveryVNT) \
  X(CTypeRecoveryMKV) \
  X(CTypeRecoveryMTS) \
  X(CTypeRecoveryM4R) \
  X(CTypeRecoveryWMF) \
  X(CTypeRecoveryVFB) \
  X(CTypeRecoveryAIF) \
  X(CTypeRecoveryGP5) \
  X(CTypeRecoveryVEG) \
  X(CTypeRecoveryDRW) \
  X(CTypeRecoveryX3F) \
  X(CTypeRecoveryWRF) \
  X(CTypeRecovery3G2) \
  X(CTypeRecoveryM4V) \
  X(CTypeRecoveryMMF)

namespace typerecovery {

#define TYPERECOVERY_DECLARE_FORMAT(Class) extern const FormatDescriptor kFormat##Class;
#define TYPERECOVERY_FORMAT_ADDRESS(Class) &kFormat##Class,
TYPERECOVERY_LISTED_FORMATS(TYPERECOVERY_DECLARE_FORMAT)

namespace {

constexpr const FormatDescriptor* kRows[] = {TYPERECOVERY_LISTED_FORMATS(TYPERECOVERY_FORMAT_ADDRESS)};

// Prototype order of TypeRecovery_AddAllTypes: the header pass asks them in
// this order and the first to answer wins. JPEG leads (the commonest find);
// the strict signature formats come before the looser text and stream tests.
constexpr const FormatDescriptor* kAddAllOrder[] = {
    &kFormatCTypeRecoveryJPG,
    &kFormatCTypeRecoveryGJD,
    &kFormatCTypeRecoveryPCB,
    &kFormatCTypeRecoveryBMP,
    &kFormatCTypeRecoveryTPF,
    &kFormatCTypeRecoveryAPE,
    &kFormatCTypeRecoveryOLE2,
    &kFormatCTypeRecoveryMP4,
    &kFormatCTypeRecoveryMOV,
    &kFormatCTypeRecovery3GP,
    &kFormatCTypeRecoveryRMVB,
    &kFormatCTypeRecoveryAI,
    &kFormatCTypeRecoveryRAR,
    &kFormatCTypeRecoveryZIP,
    &kFormatCTypeRecoveryDWG,
    &kFormatCTypeRecoveryCDR,
    &kFormatCTypeRecoveryPNG,
    &kFormatCTypeRecoveryPSD,
    &kFormatCTypeRecoveryTIFF,
    &kFormatCTypeRecoveryCHM,
    &kFormatCTypeRecoveryMHT,
    &kFormatCTypeRecoveryRTF,
    &kFormatCTypeRecoveryHTML,
    &kFormatCTypeRecoveryWMV,
    &kFormatCTypeRecoveryGHO,
    &kFormatCTypeRecoveryGIF,
    &kFormatCTypeRecoveryMP3,
    &kFormatCTypeRecoveryCRW,
    &kFormatCTypeRecoveryEXB,
    &kFormatCTypeRecoveryMAX_PP,
    &kFormatCTypeRecoverySWF,
    &kFormatCTypeRecoveryMID,
    &kFormatCTypeRecoveryICO,
    &kFormatCTypeRecoveryMPG,
    &kFormatCTypeRecoveryAMR,
    &kFormatCTypeRecovery7Z,
    &kFormatCTypeRecoveryCAB,
    &kFormatCTypeRecoveryHLP,
    &kFormatCTypeRecoveryURL,
    &kFormatCTypeRecoveryONE,
    &kFormatCTypeRecoveryVCF,
    &kFormatCTypeRecoveryDBX,
    &kFormatCTypeRecoveryPST,
    &kFormatCTypeRecoveryMXF,
    &kFormatCTypeRecoveryXPT,
    &kFormatCTypeRecoveryWTV,
    &kFormatCTypeRecoveryISO,
    &kFormatCTypeRecoveryWPD,
    &kFormatCTypeRecoveryEXE,
    &kFormatCTypeRecoveryTAR,
    &kFormatCTypeRecoveryOGG,
    &kFormatCTypeRecoveryDXF,
    &kFormatCTypeRecoveryLNK,
    &kFormatCTypeRecoveryQXP,
    &kFormatCTypeRecoveryQCD,
    &kFormatCTypeRecoveryMB,
    &kFormatCTypeRecoverySWI,
    &kFormatCTypeRecoverySDR,
    &kFormatCTypeRecoveryFLV,
    &kFormatCTypeRecoveryPSP,
    &kFormatCTypeRecoveryDAT,
    &kFormatCTypeRecoveryPFX,
    &kFormatCTypeRecoveryEMF,
    &kFormatCTypeRecoveryOCI,
    &kFormatCTypeRecoveryICC,
    &kFormatCTypeRecoveryPZF,
    &kFormatCTypeRecoveryRIFF,
    &kFormatCTypeRecoveryDEX,
    &kFormatCTypeRecoveryAU,
    &kFormatCTypeRecoveryABR,
    &kFormatCTypeRecoveryPFB,
    &kFormatCTypeRecoveryTTF,
    &kFormatCTypeRecoveryVNT,
    &kFormatCTypeRecoveryMKV,
    &kFormatCTypeRecoveryMTS,
    &kFormatCTypeRecoveryM4R,
    &kFormatCTypeRecoveryWMF,
    &kFormatCTypeRecoveryVFB,
    &kFormatCTypeRecoveryAIF,
    &kFormatCTypeRecoveryGP5,
    &kFormatCTypeRecoveryVEG,
    &kFormatCTypeRecoveryDRW,
    &kFormatCTypeRecoveryX3F,
    &kFormatCTypeRecoveryWRF,
    &kFormatCTypeRecovery3G2,
    &kFormatCTypeRecoveryM4V,
    &kFormatCTypeRecoveryMMF,
};

// A class listed twice is a second enumerator of the same name: it does not
// compile. A class missing from the list has no declared descriptor, so the
// add-all order cannot name it; with the sizes equal, the add-all order is a
// reordering of the list unless it names one class twice, which the registry
// test checks (addresses of distinct objects are not compared at compile time
// by every compiler configuration).
#define TYPERECOVERY_LISTED_ENUMERATOR(Class) Class,
enum class ListedOnce { TYPERECOVERY_LISTED_FORMATS(TYPERECOVERY_LISTED_ENUMERATOR) };
static_assert(sizeof kAddAllOrder == sizeof kRows, "the add-all order names every listed class");

// The row whose codes include this code (codes 1040 and 1544 are handled
// before this is asked).
const FormatDescriptor* FindRowByCode(uint32_t code) {
  for (const FormatDescriptor* row : kRows) {
    for (const uint32_t* c = row->codes; *c != 0; ++c) {
      if (*c == code) return row;
    }
  }
  return nullptr;
}

bool IsMultiFormat(const FormatDescriptor& row) { return row.codes[1] != 0; }

void Append(CTypeRecoveryManager* m, CTypeRecovery* prototype) { m->m_prototypes.Add(prototype); }

// Enables a code in the first prototype of a multi-format class, building
// and appending that prototype when the list has none.
void EnableInMultiFormat(CTypeRecoveryManager* m, const FormatDescriptor& format, uint32_t code,
                         uint64_t size) {
  const uint32_t classCode = format.codes[0];
  for (long i = 0; i < m->m_prototypes.GetCount(); ++i) {
    CTypeRecovery* prototype = m->m_prototypes.GetAt(i);
    if (prototype->GetTypeCode() == classCode) {
      prototype->EnableSubType(code, size);
      return;
    }
  }
  CTypeRecovery* prototype = format.factory(m, m->m_outputRoot);
  if (prototype == nullptr) return;
  prototype->EnableSubType(code, size);
  Append(m, prototype);
}

// The code whose flag TypeRecovery_AddAllTypes leaves off in each class.
uint32_t AddAllException(const FormatDescriptor& format) {
  if (&format == &kFormatCTypeRecoveryOLE2) return 2305;
  if (&format == &kFormatCTypeRecoveryEXE) return 2319;
  return 0;
}

void CopyText(char16_t* to, size_t units, const char16_t* from) {
  size_t i = 0;
  for (; i + 1 < units && from[i] != 0; ++i) to[i] = from[i];
  for (; i < units; ++i) to[i] = 0;
}

}  // namespace

const FormatDescriptor* const* RegisteredFormats(size_t* count) {
  *count = sizeof kRows / sizeof kRows[0];
  return kRows;
}

const FormatDescriptor* const* AddAllTypesOrder(size_t* count) {
  *count = sizeof kAddAllOrder / sizeof kAddAllOrder[0];
  return kAddAllOrder;
}

const FormatDescriptor* FindFormat(const char* className) {
  for (const FormatDescriptor* format : kRows) {
    if (std::strcmp(format->className, className) == 0) return format;
  }
  return nullptr;
}

const char* RecognizerClassName(const CTypeRecovery& recognizer) {
  const std::type_info& type = typeid(recognizer);
  for (const FormatDescriptor* format : kRows) {
    if (*format->type == type) return format->className;
  }
  return nullptr;
}

RecognizerFactory FindRecognizer(const char* className) {
  const FormatDescriptor* format = FindFormat(className);
  return format != nullptr ? format->factory : nullptr;
}

CTypeRecovery* ConstructRecognizer(const char* className, CTypeRecoveryManager* host,
                                   const char16_t* outputRoot) {
  RecognizerFactory factory = FindRecognizer(className);
  return factory != nullptr ? factory(host, outputRoot) : nullptr;
}

}  // namespace typerecovery

namespace typerecovery {

void AddType(CTypeRecoveryManager* m, uint32_t typeCode, uint64_t maxFileSize) {
  if (typeCode == 1544) {
    // CorelDRAW: its own class, and the ZIP sub-type of the newer packages.
    CTypeRecovery* cdr = kFormatCTypeRecoveryCDR.factory(m, m->m_outputRoot);
    if (cdr != nullptr) Append(m, cdr);
    EnableInMultiFormat(m, kFormatCTypeRecoveryZIP, typeCode, maxFileSize);
    return;
  }
  if (typeCode == 1040) {
    // Flash sources: compound documents before version 8, ZIP packages after.
    EnableInMultiFormat(m, kFormatCTypeRecoveryOLE2, typeCode, maxFileSize);
    EnableInMultiFormat(m, kFormatCTypeRecoveryZIP, typeCode, maxFileSize);
    return;
  }
  const FormatDescriptor* row = FindRowByCode(typeCode);
  if (row == nullptr) return;
  if (IsMultiFormat(*row)) {
    EnableInMultiFormat(m, *row, typeCode, maxFileSize);
    return;
  }
  CTypeRecovery* prototype = row->factory(m, m->m_outputRoot);
  if (prototype == nullptr) return;
  prototype->SetMaxFileSize(maxFileSize);
  Append(m, prototype);
}

void AddAllTypes(CTypeRecoveryManager* m) {
  for (const FormatDescriptor* format : kAddAllOrder) {
    CTypeRecovery* prototype = format->factory(m, m->m_outputRoot);
    if (prototype == nullptr) continue;
    if (IsMultiFormat(*format)) prototype->EnableAllSubTypes(AddAllException(*format));
    Append(m, prototype);
  }
}

uint32_t GetAllSupportedFileTypes(CTypeRecoveryManager* m, TypeRecoveryFileTypeArray* fileTypes) {
  for (const FormatDescriptor* row : kRows) {
    CTypeRecovery* temporary = row->factory(m, m->m_outputRoot);
    if (temporary == nullptr) continue;
    for (const uint32_t* code = row->codes; *code != 0; ++code) {
      tag_FileTypeProperty record{};
      record.typeCode = *code;
      record.typePropertyFlag = temporary->GetTypePropertyFlag();
      record.reserved = 0;
      record.alwaysOne = 1;
      record.defaultMaxFileSize = temporary->GetMaxFileSize();
      CopyText(record.extensions, 128, code == row->codes ? row->extensionList : u"");
      fileTypes->Add(record);
    }
    delete temporary;
  }
  return static_cast<uint32_t>(fileTypes->GetCount());
}

void NoteUsedFileNumber(CTypeRecoveryManager* m, const char16_t* extension, uint32_t number) {
  if (extension == nullptr || extension[0] == 0 || number == UINT32_MAX) return;
  // The classes whose extension list names it (".jpg;.jpe;.jpeg"), case
  // folded as the file system would.
  auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  auto serves = [&](const FormatDescriptor& row) {
    for (const char16_t* at = row.extensionList; *at != 0;) {
      if (*at == u'.') ++at;
      size_t i = 0;
      while (at[i] != 0 && at[i] != u';' && extension[i] != 0 && fold(at[i]) == fold(extension[i])) ++i;
      if ((at[i] == 0 || at[i] == u';') && extension[i] == 0) return true;
      while (*at != 0 && *at != u';') ++at;
      if (*at == u';') ++at;
    }
    return false;
  };
  for (const FormatDescriptor* row : kRows) {
    if (!serves(*row)) continue;
    for (CDynArray<CTypeRecovery*>* list : {&m->m_prototypes, &m->m_actives}) {
      for (long i = 0; i < list->GetCount(); ++i) {
        CTypeRecovery* r = list->GetAt(i);
        if (r->IsFileInProgress()) continue;  // its number is its own file's
        if (r->GetTypeCode() == row->codes[0] && r->GetFileCounter() <= number) r->SetFileCounter(number + 1);
      }
    }
  }
}

}  // namespace typerecovery
