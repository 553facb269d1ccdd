// The type registry and the exported functions built on it:
// TypeRecovery_AddType, TypeRecovery_AddAllTypes and
// TypeRecovery_GetAllSupportedFileTypes.
#include "registry/Registry.h"

#include <cstring>
#include <vector>

#include "framework/TypeRecovery.h"
#include "interface/Manager.h"
#include "registry/RecognizerFactory.h"

namespace typerecovery {
namespace {

// One row per class, in the order of the supported-type list.
const RegistryRow kRows[] = {
    {"CTypeRecoveryJPG", {513}, u".jpg;.jpe;.jpeg"},
    {"CTypeRecoveryGJD", {1565}, u".gjd"},
    {"CTypeRecoveryPCB", {1563}, u".pcb"},
    {"CTypeRecoveryBMP", {1537}, u".bmp"},
    {"CTypeRecoveryTPF", {1564}, u".tpf"},
    {"CTypeRecoveryAPE", {771}, u".ape"},
    {"CTypeRecoveryOLE2", {2305, 260, 261, 262, 1547, 274, 275, 277, 1550, 264, 265, 1552, 1553, 266, 1555, 279, 2325, 2326, 2330, 1569}, u".ole2;.doc;.wps;.xls;.et;.ppt;.pps;.dps;.max;.qpw;.shw;.p65;.dgn;.vsd;.pub;.jnb;.dcd;.mpp;.tcw;.rpt;.msi;.msp;.db;.sldprt"},
    {"CTypeRecoveryMP4", {1028}, u".mp4"},
    {"CTypeRecoveryMOV", {1030}, u".mov"},
    {"CTypeRecovery3GP", {1032}, u".3gp"},
    {"CTypeRecoveryRMVB", {1031, 776}, u".rmvb;.rm;.ra"},
    {"CTypeRecoveryAI", {276}, u".pdf;.ai"},
    {"CTypeRecoveryRAR", {1794}, u".rar"},
    {"CTypeRecoveryZIP", {1793, 257, 258, 259, 1040, 267, 268, 269, 270, 271, 272, 278, 2310, 2314, 2311, 2312}, u".zip;.docx;.xlsx;.pptx;.fla;.odt;.ods;.odp;.odg;.odf;.odb;.xps;.apk;.jar;.ipa;.pxl"},
    {"CTypeRecoveryCDR", {1544}, u".cdr"},
    {"CTypeRecoveryDWG", {1545}, u".dwg"},
    {"CTypeRecoveryPNG", {1539}, u".png"},
    {"CTypeRecoveryPSD", {1541}, u".psd"},
    {"CTypeRecoveryTIFF", {514, 515, 518, 516, 519, 520, 521, 522, 517, 523}, u".tif;.tiff;.cr2;.arw;.nef;.orf;.sr2;.raw;.pef;.dng;.mef"},
    {"CTypeRecoveryCRW", {524}, u".crw"},
    {"CTypeRecoveryCHM", {281}, u".chm"},
    {"CTypeRecoveryMHT", {282}, u".mht"},
    {"CTypeRecoveryRTF", {280}, u".rtf"},
    {"CTypeRecoveryHTML", {1281}, u".htm;.html"},
    {"CTypeRecoveryWMV", {1027, 772}, u".wmv;.asf;.wma"},
    {"CTypeRecoveryGHO", {1799}, u".gho"},
    {"CTypeRecoveryGIF", {1538}, u".gif"},
    {"CTypeRecoveryMP3", {769}, u".mp3;.s48"},
    {"CTypeRecoveryEXB", {1551}, u".exb"},
    {"CTypeRecoveryMAX_PP", {1543}, u".max"},
    {"CTypeRecoverySWF", {1283}, u".swf"},
    {"CTypeRecoveryMID", {773}, u".mid"},
    {"CTypeRecoveryICO", {1540}, u".ico"},
    {"CTypeRecoveryMPG", {1026}, u".mpg;.mpeg;.vob;.m2v;.h264"},
    {"CTypeRecoveryAMR", {774}, u".amr"},
    {"CTypeRecovery7Z", {1795}, u".7z"},
    {"CTypeRecoveryCAB", {1797}, u".cab"},
    {"CTypeRecoveryHLP", {283}, u".hlp"},
    {"CTypeRecoveryURL", {1282}, u".url"},
    {"CTypeRecoveryONE", {263}, u".one"},
    {"CTypeRecoveryVCF", {2306}, u".vcf"},
    {"CTypeRecoveryDBX", {2049}, u".dbx"},
    {"CTypeRecoveryPST", {2050}, u".pst"},
    {"CTypeRecoveryMXF", {1038}, u".mxf"},
    {"CTypeRecoveryXPT", {2308}, u".xpt"},
    {"CTypeRecoveryWTV", {1039}, u".wtv"},
    {"CTypeRecoveryISO", {1798}, u".iso"},
    {"CTypeRecoveryWPD", {273}, u".wpd"},
    {"CTypeRecoveryEXE", {2319, 2320, 2321, 2322, 2323, 2324, 2316}, u".exe;.com;.ocx;.dll;.sys;.drv;.acm"},
    {"CTypeRecoveryTAR", {1796}, u".tar"},
    {"CTypeRecoveryOGG", {775}, u".ogg;.spx;.opus;.ogv"},
    {"CTypeRecoveryDXF", {1546}, u".dxf"},
    {"CTypeRecoveryLNK", {2309}, u".lnk"},
    {"CTypeRecoveryQXP", {1556, 1557}, u".qxp;.qpt"},
    {"CTypeRecoveryQCD", {1554}, u".qcd"},
    {"CTypeRecoveryMB", {1548}, u".mb"},
    {"CTypeRecoverySWI", {1041}, u".swi"},
    {"CTypeRecoverySDR", {1558}, u".sdr;.sdt"},
    {"CTypeRecoveryFLV", {1036}, u".flv;.f4v"},
    {"CTypeRecoveryPSP", {1549}, u".psp"},
    {"CTypeRecoveryDAT", {1284}, u".dat"},
    {"CTypeRecoveryPFX", {2315}, u".pfx"},
    {"CTypeRecoveryEMF", {1560}, u".emf"},
    {"CTypeRecoveryOCI", {1561}, u".oci"},
    {"CTypeRecoveryICC", {1562}, u".icc"},
    {"CTypeRecoveryPZF", {1559}, u".pzf"},
    {"CTypeRecoveryRIFF", {1025, 770, 1037, 1566}, u".avi;.wav;.dat;.ani"},
    {"CTypeRecoveryDEX", {2313}, u".dex"},
    {"CTypeRecoveryAU", {777}, u".au"},
    {"CTypeRecoveryABR", {1542}, u".abr"},
    {"CTypeRecoveryPFB", {2318}, u".pfb"},
    {"CTypeRecoveryTTF", {2317}, u".ttf"},
    {"CTypeRecoveryVNT", {2307}, u".vnt"},
    {"CTypeRecoveryMKV", {1034}, u".mkv;.webm;.mka"},
    {"CTypeRecoveryMTS", {1035}, u".mts;.m2ts;.m2t;.ts;.tp;.mt2s"},
    {"CTypeRecoveryM4R", {778}, u".m4r;.m4a"},
    {"CTypeRecoveryWMF", {1567}, u".wmf"},
    {"CTypeRecoveryVFB", {1568}, u".vfb"},
    {"CTypeRecoveryAIF", {779}, u".aif;.afc;.aiff"},
    {"CTypeRecoveryGP5", {2327}, u".gp5"},
    {"CTypeRecoveryVEG", {2328}, u".veg"},
    {"CTypeRecoveryDRW", {2329}, u".drw"},
    {"CTypeRecoveryX3F", {525}, u".x3f"},
    {"CTypeRecoveryWRF", {1042}, u".wrf"},
    {"CTypeRecovery3G2", {1033}, u".3g2"},
    {"CTypeRecoveryM4V", {1029}, u".m4v"},
    {"CTypeRecoveryMMF", {780}, u".mmf"},};

// Prototype order of TypeRecovery_AddAllTypes: the header pass asks them in
// this order and the first to answer wins. JPEG leads (the commonest find);
// the strict signature formats come before the looser text and stream tests.
const char* const kAddAllOrder[] = {
    "CTypeRecoveryJPG", "CTypeRecoveryGJD", "CTypeRecoveryPCB", "CTypeRecoveryBMP",
    "CTypeRecoveryTPF", "CTypeRecoveryAPE", "CTypeRecoveryOLE2", "CTypeRecoveryMP4",
    "CTypeRecoveryMOV", "CTypeRecovery3GP", "CTypeRecoveryRMVB", "CTypeRecoveryAI",
    "CTypeRecoveryRAR", "CTypeRecoveryZIP", "CTypeRecoveryDWG", "CTypeRecoveryCDR",
    "CTypeRecoveryPNG", "CTypeRecoveryPSD", "CTypeRecoveryTIFF", "CTypeRecoveryCHM",
    "CTypeRecoveryMHT", "CTypeRecoveryRTF", "CTypeRecoveryHTML", "CTypeRecoveryWMV",
    "CTypeRecoveryGHO", "CTypeRecoveryGIF", "CTypeRecoveryMP3", "CTypeRecoveryCRW",
    "CTypeRecoveryEXB", "CTypeRecoveryMAX_PP", "CTypeRecoverySWF", "CTypeRecoveryMID",
    "CTypeRecoveryICO", "CTypeRecoveryMPG", "CTypeRecoveryAMR", "CTypeRecovery7Z",
    "CTypeRecoveryCAB", "CTypeRecoveryHLP", "CTypeRecoveryURL", "CTypeRecoveryONE",
    "CTypeRecoveryVCF", "CTypeRecoveryDBX", "CTypeRecoveryPST", "CTypeRecoveryMXF",
    "CTypeRecoveryXPT", "CTypeRecoveryWTV", "CTypeRecoveryISO", "CTypeRecoveryWPD",
    "CTypeRecoveryEXE", "CTypeRecoveryTAR", "CTypeRecoveryOGG", "CTypeRecoveryDXF",
    "CTypeRecoveryLNK", "CTypeRecoveryQXP", "CTypeRecoveryQCD", "CTypeRecoveryMB",
    "CTypeRecoverySWI", "CTypeRecoverySDR", "CTypeRecoveryFLV", "CTypeRecoveryPSP",
    "CTypeRecoveryDAT", "CTypeRecoveryPFX", "CTypeRecoveryEMF", "CTypeRecoveryOCI",
    "CTypeRecoveryICC", "CTypeRecoveryPZF", "CTypeRecoveryRIFF", "CTypeRecoveryDEX",
    "CTypeRecoveryAU", "CTypeRecoveryABR", "CTypeRecoveryPFB", "CTypeRecoveryTTF",
    "CTypeRecoveryVNT", "CTypeRecoveryMKV", "CTypeRecoveryMTS", "CTypeRecoveryM4R",
    "CTypeRecoveryWMF", "CTypeRecoveryVFB", "CTypeRecoveryAIF", "CTypeRecoveryGP5",
    "CTypeRecoveryVEG", "CTypeRecoveryDRW", "CTypeRecoveryX3F", "CTypeRecoveryWRF",
    "CTypeRecovery3G2", "CTypeRecoveryM4V", "CTypeRecoveryMMF",
};

struct FactoryEntry {
  const char* className;
  RecognizerFactory factory;
  const std::type_info* type;
};

std::vector<FactoryEntry>& Factories() {
  static std::vector<FactoryEntry> factories;
  return factories;
}

const RegistryRow* FindRowByClass(const char* className) {
  for (const RegistryRow& row : kRows) {
    if (std::strcmp(row.className, className) == 0) return &row;
  }
  return nullptr;
}

// The row whose codes include this code (codes 1040 and 1544 are handled
// before this is asked).
const RegistryRow* FindRowByCode(uint32_t code) {
  for (const RegistryRow& row : kRows) {
    for (const uint32_t* c = row.codes; *c != 0; ++c) {
      if (*c == code) return &row;
    }
  }
  return nullptr;
}

bool IsMultiFormat(const RegistryRow& row) { return row.codes[1] != 0; }

void Append(CTypeRecoveryManager* m, CTypeRecovery* prototype) { m->m_prototypes.Add(prototype); }

// Enables a code in the first prototype of a multi-format class, building
// and appending that prototype when the list has none.
void EnableInMultiFormat(CTypeRecoveryManager* m, const char* className, uint32_t code,
                         uint64_t size) {
  const RegistryRow* row = FindRowByClass(className);
  const uint32_t classCode = row->codes[0];
  for (long i = 0; i < m->m_prototypes.GetCount(); ++i) {
    CTypeRecovery* prototype = m->m_prototypes.GetAt(i);
    if (prototype->GetTypeCode() == classCode) {
      prototype->EnableSubType(code, size);
      return;
    }
  }
  CTypeRecovery* prototype = ConstructRecognizer(className, m, m->m_outputRoot);
  if (prototype == nullptr) return;
  prototype->EnableSubType(code, size);
  Append(m, prototype);
}

// The code whose flag TypeRecovery_AddAllTypes leaves off in each class.
uint32_t AddAllException(const char* className) {
  if (std::strcmp(className, "CTypeRecoveryOLE2") == 0) return 2305;
  if (std::strcmp(className, "CTypeRecoveryEXE") == 0) return 2319;
  return 0;
}

void CopyText(char16_t* to, size_t units, const char16_t* from) {
  size_t i = 0;
  for (; i + 1 < units && from[i] != 0; ++i) to[i] = from[i];
  for (; i < units; ++i) to[i] = 0;
}

}  // namespace

const RegistryRow* RegistryRows(size_t* count) {
  *count = sizeof kRows / sizeof kRows[0];
  return kRows;
}

const char* const* AddAllTypesOrder(size_t* count) {
  *count = sizeof kAddAllOrder / sizeof kAddAllOrder[0];
  return kAddAllOrder;
}

bool RegisterRecognizer(const char* className, RecognizerFactory factory,
                        const std::type_info& type) {
  Factories().push_back({className, factory, &type});
  return true;
}

const char* RecognizerClassName(const CTypeRecovery& recognizer) {
  const std::type_info& type = typeid(recognizer);
  for (const FactoryEntry& entry : Factories()) {
    if (*entry.type == type) return entry.className;
  }
  return nullptr;
}

RecognizerFactory FindRecognizer(const char* className) {
  for (const FactoryEntry& entry : Factories()) {
    if (std::strcmp(entry.className, className) == 0) return entry.factory;
  }
  return nullptr;
}

CTypeRecovery* ConstructRecognizer(const char* className, CTypeRecoveryManager* host,
                                   const char16_t* outputRoot) {
  RecognizerFactory factory = FindRecognizer(className);
  return factory != nullptr ? factory(host, outputRoot) : nullptr;
}

}  // namespace typerecovery

using namespace typerecovery;

extern "C" {

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_AddType(CTypeRecoveryManager* m,
                                                             uint32_t typeCode,
                                                             uint64_t maxFileSize) {
  if (m == nullptr) return;
  if (typeCode == 1544) {
    // CorelDRAW: its own class, and the ZIP sub-type of the newer packages.
    CTypeRecovery* cdr = ConstructRecognizer("CTypeRecoveryCDR", m, m->m_outputRoot);
    if (cdr != nullptr) Append(m, cdr);
    EnableInMultiFormat(m, "CTypeRecoveryZIP", typeCode, maxFileSize);
    return;
  }
  if (typeCode == 1040) {
    // Flash sources: compound documents before version 8, ZIP packages after.
    EnableInMultiFormat(m, "CTypeRecoveryOLE2", typeCode, maxFileSize);
    EnableInMultiFormat(m, "CTypeRecoveryZIP", typeCode, maxFileSize);
    return;
  }
  const RegistryRow* row = FindRowByCode(typeCode);
  if (row == nullptr) return;
  if (IsMultiFormat(*row)) {
    EnableInMultiFormat(m, row->className, typeCode, maxFileSize);
    return;
  }
  CTypeRecovery* prototype = ConstructRecognizer(row->className, m, m->m_outputRoot);
  if (prototype == nullptr) return;
  prototype->SetMaxFileSize(maxFileSize);
  Append(m, prototype);
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_AddAllTypes(CTypeRecoveryManager* m) {
  if (m == nullptr) return;
  for (const char* className : kAddAllOrder) {
    CTypeRecovery* prototype = ConstructRecognizer(className, m, m->m_outputRoot);
    if (prototype == nullptr) continue;
    if (IsMultiFormat(*FindRowByClass(className))) {
      prototype->EnableAllSubTypes(AddAllException(className));
    }
    Append(m, prototype);
  }
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetAllSupportedFileTypes(
    CTypeRecoveryManager* m, TypeRecoveryFileTypeArray* fileTypes) {
  if (m == nullptr || fileTypes == nullptr) return 0;
  for (const RegistryRow& row : kRows) {
    CTypeRecovery* temporary = ConstructRecognizer(row.className, m, m->m_outputRoot);
    if (temporary == nullptr) continue;
    for (const uint32_t* code = row.codes; *code != 0; ++code) {
      tag_FileTypeProperty record{};
      record.typeCode = *code;
      record.typePropertyFlag = temporary->GetTypePropertyFlag();
      record.reserved = 0;
      record.alwaysOne = 1;
      record.defaultMaxFileSize = temporary->GetMaxFileSize();
      CopyText(record.extensions, 128, code == row.codes ? row.extensionList : u"");
      fileTypes->Add(record);
    }
    delete temporary;
  }
  return static_cast<uint32_t>(fileTypes->GetCount());
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_NoteUsedFileNumber(
    CTypeRecoveryManager* m, const char16_t* extension, uint32_t number) {
  if (m == nullptr || extension == nullptr || extension[0] == 0 || number == UINT32_MAX) return;
  // The classes whose extension list names it (".jpg;.jpe;.jpeg"), case
  // folded as the file system would.
  auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  auto serves = [&](const RegistryRow& row) {
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
  for (const RegistryRow& row : kRows) {
    if (!serves(row)) continue;
    for (CDynArray<CTypeRecovery*>* list : {&m->m_prototypes, &m->m_actives}) {
      for (long i = 0; i < list->GetCount(); ++i) {
        CTypeRecovery* r = list->GetAt(i);
        if (r->IsFileInProgress()) continue;  // its number is its own file's
        if (r->GetTypeCode() == row.codes[0] && r->GetFileCounter() <= number) r->SetFileCounter(number + 1);
      }
    }
  }
}

}  // extern "C"
