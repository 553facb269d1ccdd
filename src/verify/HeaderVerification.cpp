// TypeRecovery_IsFileHeaderMatched: does a buffer begin like a file of the
// type an extension names? Each row names the recognizer classes whose
// header tests decide (tried in order, built without host or output path,
// asked with the verification flag 1); the "iso" row has its own test of a
// zero system area. Touches no shared state.
#include <cstring>

#include "framework/TypeRecovery.h"
#include "registry/RecognizerFactory.h"

namespace {

struct VerificationRow {
  const char* classes[4];        // tried in order; {nullptr}: the zero-area test
  const char16_t* extensions[21];  // without dots, null-terminated list
};

const VerificationRow kRows[] = {
    {{"CTypeRecoveryOLE2"}, {u"ole2", u"doc", u"xls", u"ppt", u"vsd", u"pub", u"qpw", u"shw", u"p65", u"dgn", u"jnb", u"dcd", u"mpp", u"tcw", u"rpt", u"pps", u"msi", u"msp", u"db", u"sldprt"}},
    {{"CTypeRecoveryWPD"}, {u"wpd"}},
    {{"CTypeRecoveryDBX"}, {u"dbx"}},
    {{"CTypeRecoveryPST"}, {u"pst"}},
    {{"CTypeRecoveryRTF"}, {u"rtf"}},
    {{"CTypeRecoveryZIP"}, {u"zip", u"docx", u"xlsx", u"pptx", u"xps", u"odt", u"ods", u"odp", u"odg", u"odf", u"odb", u"apk", u"jar", u"ipa", u"pxl"}},
    {{"CTypeRecoveryONE"}, {u"one"}},
    {{"CTypeRecoveryRAR"}, {u"rar"}},
    {{"CTypeRecovery7Z"}, {u"7z"}},
    {{"CTypeRecoveryCAB"}, {u"cab"}},
    {{nullptr}, {u"iso"}},
    {{"CTypeRecoveryAI"}, {u"ai", u"pdf"}},
    {{"CTypeRecoveryHTML"}, {u"html", u"htm"}},
    {{"CTypeRecoveryCHM"}, {u"chm"}},
    {{"CTypeRecoveryMHT"}, {u"mht"}},
    {{"CTypeRecoveryHLP"}, {u"hlp"}},
    {{"CTypeRecoveryURL"}, {u"url"}},
    {{"CTypeRecoveryJPG"}, {u"jpg", u"jpeg", u"jpe"}},
    {{"CTypeRecoveryBMP"}, {u"bmp"}},
    {{"CTypeRecoveryGIF"}, {u"gif"}},
    {{"CTypeRecoveryPNG"}, {u"png"}},
    {{"CTypeRecoveryPSD"}, {u"psd"}},
    {{"CTypeRecoveryICO"}, {u"ico"}},
    {{"CTypeRecoveryMP3"}, {u"mp3", u"s48"}},
    {{"CTypeRecoveryAPE"}, {u"ape"}},
    {{"CTypeRecoveryWMV"}, {u"wmv", u"wma"}},
    {{"CTypeRecoveryMID"}, {u"mid"}},
    {{"CTypeRecoveryAMR"}, {u"amr"}},
    {{"CTypeRecoveryMPG"}, {u"mpg", u"mpeg", u"vob", u"m2v", u"h264"}},
    {{"CTypeRecoveryRMVB"}, {u"rm", u"rmvb", u"ra"}},
    {{"CTypeRecoveryMXF"}, {u"mxf"}},
    {{"CTypeRecoveryWTV"}, {u"wtv"}},
    {{"CTypeRecoverySWF"}, {u"swf"}},
    {{"CTypeRecoveryCRW"}, {u"crw"}},
    {{"CTypeRecoveryDWG"}, {u"dwg"}},
    {{"CTypeRecoveryVCF"}, {u"vcf"}},
    {{"CTypeRecoveryGHO"}, {u"gho", u"ghs"}},
    {{"CTypeRecoveryGJD"}, {u"gjd"}},
    {{"CTypeRecoveryPCB"}, {u"pcb"}},
    {{"CTypeRecoveryTPF"}, {u"tpf"}},
    {{"CTypeRecoveryEXB"}, {u"exb"}},
    {{"CTypeRecoveryXPT"}, {u"xpt"}},
    {{"CTypeRecoveryOLE2", "CTypeRecoveryMAX_PP"}, {u"max"}},
    {{"CTypeRecoveryMP4", "CTypeRecoveryMOV", "CTypeRecovery3GP"}, {u"mp4", u"mov", u"3gp"}},
    {{"CTypeRecoveryOLE2", "CTypeRecoveryZIP"}, {u"fla"}},
    {{"CTypeRecoveryCDR", "CTypeRecoveryZIP"}, {u"cdr"}},
    {{"CTypeRecoveryTIFF"}, {u"tif", u"tiff", u"cr2", u"nef", u"dng", u"arw", u"orf", u"sr2", u"raw", u"pef", u"mef"}},
    {{"CTypeRecoveryEXE"}, {u"exe", u"ocx", u"dll", u"sys", u"drv", u"acm"}},
    {{"CTypeRecoveryTAR"}, {u"tar"}},
    {{"CTypeRecoveryOGG"}, {u"ogg", u"spx", u"opus", u"ogv"}},
    {{"CTypeRecoveryDXF"}, {u"dxf"}},
    {{"CTypeRecoveryLNK"}, {u"lnk"}},
    {{"CTypeRecoveryQXP"}, {u"qxp", u"qpt"}},
    {{"CTypeRecoveryQCD"}, {u"qcd"}},
    {{"CTypeRecoveryMB"}, {u"mb"}},
    {{"CTypeRecoverySWI"}, {u"swi"}},
    {{"CTypeRecoverySDR"}, {u"sdr", u"sdt"}},
    {{"CTypeRecoveryFLV"}, {u"flv"}},
    {{"CTypeRecoveryPSP"}, {u"psp"}},
    {{"CTypeRecoveryPFX"}, {u"pfx"}},
    {{"CTypeRecoveryEMF"}, {u"emf"}},
    {{"CTypeRecoveryOCI"}, {u"oci"}},
    {{"CTypeRecoveryICC"}, {u"icc"}},
    {{"CTypeRecoveryPZF"}, {u"pzf"}},
    {{"CTypeRecoveryRIFF"}, {u"avi", u"wav", u"ani"}},
    {{"CTypeRecoveryDAT", "CTypeRecoveryRIFF"}, {u"dat"}},
    {{"CTypeRecoveryDEX"}, {u"dex"}},
    {{"CTypeRecoveryAU"}, {u"au"}},
    {{"CTypeRecoveryABR"}, {u"abr"}},
    {{"CTypeRecoveryPFB"}, {u"pfb"}},
    {{"CTypeRecoveryTTF"}, {u"ttf"}},
    {{"CTypeRecoveryVNT"}, {u"vnt"}},
    {{"CTypeRecoveryMKV"}, {u"mkv", u"mka"}},
    {{"CTypeRecoveryMTS"}, {u"mts", u"m2ts", u"m2t", u"ts", u"tp", u"mt2s"}},
    {{"CTypeRecoveryM4R"}, {u"m4r", u"m4a"}},
    {{"CTypeRecoveryWMF"}, {u"wmf"}},
    {{"CTypeRecoveryVFB"}, {u"vfb"}},
    {{"CTypeRecoveryAIF"}, {u"aif", u"afc", u"aiff"}},
    {{"CTypeRecoveryGP5"}, {u"gp5"}},
    {{"CTypeRecoveryVEG"}, {u"veg"}},
    {{"CTypeRecoveryDRW"}, {u"drw"}},
    {{"CTypeRecoveryX3F"}, {u"x3f"}},
    {{"CTypeRecoveryWRF"}, {u"wrf"}},
    {{"CTypeRecovery3G2"}, {u"3g2"}},
    {{"CTypeRecoveryM4V"}, {u"m4v"}},
    {{"CTypeRecoveryMMF"}, {u"mmf"}},};

// Case folding of A to Z only, as the extension comparison requires.
char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool SameExtension(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (Fold(*a) != Fold(*b)) return false;
  }
  return *a == *b;
}

// A disc image begins with a zero system area: every 8-byte word at offset
// k with k + 64 <= length must be zero (the last 56 bytes are not examined).
int32_t ZeroAreaTest(const uint8_t* buffer, uint32_t length) {
  static const uint8_t kZero[8] = {};
  for (uint64_t k = 0; k + 64 <= length; k += 8) {
    if (std::memcmp(buffer + k, kZero, 8) != 0) return -1;
  }
  return 1;
}

}  // namespace

extern "C" {

TYPERECOVERY_API int32_t TYPERECOVERY_CALL TypeRecovery_IsFileHeaderMatched(
    const uint8_t* buffer, uint32_t length, const char16_t* extension) {
  if (extension == nullptr) return 0;
  if (extension[0] == u'.') ++extension;
  for (const VerificationRow& row : kRows) {
    bool selected = false;
    for (const char16_t* const* e = row.extensions; *e != nullptr && !selected; ++e) {
      selected = SameExtension(extension, *e);
    }
    if (!selected) continue;
    if (row.classes[0] == nullptr) return ZeroAreaTest(buffer, length);
    bool allocated = false;
    for (const char* const* name = row.classes; *name != nullptr; ++name) {
      CTypeRecovery* recognizer = typerecovery::ConstructRecognizer(*name, nullptr, nullptr);
      allocated = recognizer != nullptr;
      if (!allocated) continue;
      const uint32_t code = recognizer->IsHeaderMatched(buffer, length, 1);
      delete recognizer;
      if (code != 0) return 1;
    }
    // Only an allocation failure of the row's last class answers 0.
    return allocated ? -1 : 0;
  }
  return 0;
}

}  // extern "C"
