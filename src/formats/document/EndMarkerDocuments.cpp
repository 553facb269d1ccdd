// The rows of the end-marker formats: header tests and closing patterns.
#include "formats/document/EndMarkerDocuments.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint64_t kMiB = 0x100000;

using AcceptFn = bool (*)(const ByteView&, uint64_t);

template <size_t N>
EndMarker Marker(const uint8_t (&bytes)[N], uint32_t partLength, uint32_t guard,
                 AcceptFn accepts = nullptr) {
  return EndMarker{bytes, N, partLength, guard, accepts};
}
// A text marker, without the terminating zero of its literal.
template <size_t N>
EndMarker Marker(const char (&text)[N], uint32_t partLength, uint32_t guard,
                 AcceptFn accepts = nullptr) {
  return EndMarker{reinterpret_cast<const uint8_t*>(text), N - 1, partLength, guard, accepts};
}

// ---- vCard ----
// Cards follow one another as "END:VCARD" CR LF "BEGIN:VCARD"; the file ends
// after the last card's line end.
const char kVcardEnd[] = "END:VCARD";
constexpr uint64_t kNextCardAt = 11;  // after "END:VCARD" CR LF
bool IsLastCard(const ByteView& v, uint64_t p) {
  return !BytesEqual(v, p + kNextCardAt, "BEGIN:VC") && !BytesEqual(v, p + kNextCardAt + 8, "ARD");
}
bool IsVcard(const ByteView& s) { return BytesEqual(s, 0, "BEGIN:VCARD"); }
const EndMarkerFormat kVcf{2306, u"vcf", 2 * kMiB, 17, IsVcard,
                           Marker(kVcardEnd, 11, 22, IsLastCard), 0, false};

// ---- vNote ----
const char kVnoteEnd[] = "END:VNOTE";
bool IsVnote(const ByteView& s) { return BytesEqual(s, 0, "BEGIN:VNOTE"); }
const EndMarkerFormat kVnt{2307, u"vnt", 2 * kMiB, 17, IsVnote, Marker(kVnoteEnd, 9, 9), 0, false};

// ---- UGC drawing: "#UGC:2 DRAWING" ----
const char kUgcEnd[] = "#END_OF_UGC\n";
constexpr uint16_t kDrawingTail = 0x474E;  // "NG"
bool IsUgcDrawing(const ByteView& s) {
  return BytesEqual(s, 0, "#UGC:2 DRAWI") && ReadU16LE(s, 12) == kDrawingTail;
}
const EndMarkerFormat kDrw{2329, u"drw", 128 * kMiB, 33, IsUgcDrawing, Marker(kUgcEnd, 12, 12),
                           0, false};

// ---- Disk-image backup ----
const uint8_t kGhostMagic[] = {0xFE, 0xEF, 0x01};
constexpr uint32_t kGhostHeaderVersion = 0x101;  // u32 at 8; u32 at 12 is 0
const uint8_t kGhostEnd[] = {0x2F, 0x01, 0x18, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
bool IsGhostImage(const ByteView& s) {
  return BytesEqual(s, 0, kGhostMagic, sizeof kGhostMagic) &&
         ReadU32LE(s, 8) == kGhostHeaderVersion && ReadU32LE(s, 12) == 0;
}
const EndMarkerFormat kGho{1799, u"gho", 0x280000000ULL, 65, IsGhostImage,
                           Marker(kGhostEnd, 28, 12), 0, true};

// ---- Drawing exchange text: a comment group or the first SECTION ----
const char kDxfEnd[] = "EOF";  // taken with its CR LF
bool IsDxf(const ByteView& s) {
  const uint8_t first = ReadU8(s, 0);
  if (first != '9' && first != ' ') return false;
  return BytesEqual(s, 0, "999\ndxflib") || BytesEqual(s, 0, "999\r\ndxflib") ||
         BytesEqual(s, 0, "  0\nSECTION") || BytesEqual(s, 0, "  0\r\nSECTION");
}
const EndMarkerFormat kDxf{1546, u"dxf", 16 * kMiB, 13, IsDxf, Marker(kDxfEnd, 5, 5), 0, false};

// ---- Flowchart drawing ----
const uint8_t kSmartDrawEnd[] = {0x40, 0x01, 0x40};
bool IsSmartDraw(const ByteView& s) { return BytesEqual(s, 0, "SMARTDRW"); }
const EndMarkerFormat kSdr{1558, u"sdr", 16 * kMiB, 41, IsSmartDraw, Marker(kSmartDrawEnd, 3, 5),
                           0, false};

// ---- Graphics drawing ----
const uint8_t kPzfEnd[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x40};
bool IsPzf(const ByteView& s) { return BytesEqual(s, 0, "PCFFGRA4"); }
const EndMarkerFormat kPzf{1559, u"pzf", 16 * kMiB, 41, IsPzf, Marker(kPzfEnd, 17, 18), 0, false};

// ---- Binary Type 1 font: segment mark 80 01, segment length, then the
// "%!PS-AdobeFont" text; the last text segment closes with "cleartomark"
// and the end-of-file segment mark 80 03 ----
const char kFontEnd[] = "\rcleartomark\r\x80\x03";
bool IsTypeOneFont(const ByteView& s) { return BytesEqual(s, 8, "PS-AdobeFont"); }
const EndMarkerFormat kPfb{2318, u"pfb", 16 * kMiB, 33, IsTypeOneFont, Marker(kFontEnd, 15, 16),
                           1, false};

// ---- Font source ----
constexpr uint32_t kVfbMagic = 0x464C571A;    // 1A "WLF"
constexpr uint32_t kVfbVersion = 0x00033031;  // "10" 03 00
const uint8_t kVfbEnd[] = {0x00, 0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
bool IsVfb(const ByteView& s) { return ReadU32LE(s, 0) == kVfbMagic && ReadU32LE(s, 4) == kVfbVersion; }
const EndMarkerFormat kVfb{1568, u"vfb", 52428800, 17, IsVfb, Marker(kVfbEnd, 9, 9), 0, false};

// ---- Tablature version 5: a length-prefixed version string ----
constexpr uint8_t kGp5VersionLength = 0x18;
const uint8_t kGp5End[] = {0, 0, 0, 1, 0, 0, 0, 0x40, 0, 0, 0, 0, 0};
bool IsGp5(const ByteView& s) {
  return ReadU8(s, 0) == kGp5VersionLength && BytesEqual(s, 1, "FICHIER GUITAR PRO ") &&
         BytesEqual(s, 20, "v5.");
}
const EndMarkerFormat kGp5{2327, u"gp5", 52428800, 33, IsGp5, Marker(kGp5End, 13, 13), 0, false};

// ---- CAD drawing: "QCAD" and a four-digit version after a length word ----
const char kQcadEnd[] = "RASTERVARIABLES";
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsQcad(const ByteView& s) {
  if (!BytesEqual(s, 2, "QCAD") || ReadU8(s, 6) != ' ') return false;
  for (uint64_t i = 7; i <= 10; ++i) {
    if (!IsDigit(ReadU8(s, i))) return false;
  }
  return ReadU32LE(s, 11) == 0 && ReadU8(s, 15) == 0;
}
const EndMarkerFormat kQcd{1554, u"qcd", 32 * kMiB, 17, IsQcad, Marker(kQcadEnd, 15, 16), 0, false};

// ---- Animation project: the product name in UTF-16 from offset 6 ----
const uint8_t kSwishName[] = {'S', 0, 'W', 0, 'i', 0, 'S', 0, 'H', 0, ' ', 0, 'M', 0, 'a', 0, 'x'};
constexpr uint64_t kSwishNameAt = 6;
const uint8_t kSwishEnd[] = {0, 0, 0, 0, 50, 0, 0, 0, 0, 0, 0, 0};
bool IsSwish(const ByteView& s) { return BytesEqual(s, kSwishNameAt, kSwishName, sizeof kSwishName); }
const EndMarkerFormat kSwi{1041, u"swi", 128 * kMiB, 33, IsSwish, Marker(kSwishEnd, 12, 13), 1,
                           false};

// ---- Tutoring book: a length-prefixed window class name ----
constexpr uint8_t kExbNameLength = 0x10;
const char kExbEnd[] = "CaxaEbForAddOnStorage";
bool IsExb(const ByteView& s) {
  return ReadU8(s, 0) == kExbNameLength && BytesEqual(s, 1, "CaxaEbForWindow") &&
         BytesEqual(s, 16, "s.");
}
const EndMarkerFormat kExb{1551, u"exb", 16 * kMiB, 33, IsExb, Marker(kExbEnd, 25, 25), 0, false};

// ---- Internet shortcut: an INI text; the first zero run is past its end ----
const uint8_t kTextEnded[] = {0, 0, 0, 0, 0, 0, 0, 0};
bool IsInternetShortcut(const ByteView& s) {
  return BytesEqual(s, 0, "[InternetShortcut]") ||
         BytesEqual(s, 0, "[{000214A0-0000-0000-C000-000000000046}]");
}
const EndMarkerFormat kUrl{1282, u"url", 1 * kMiB, 41, IsInternetShortcut, Marker(kTextEnded, 0, 8),
                           0, false};

}  // namespace

#define TYPERECOVERY_END_MARKER_ROW(Class, row)                                              \
  Class::Class(CTypeRecoveryManager* host, const char16_t* outputRoot)                      \
      : CEndMarkerCycle(row, host, outputRoot) {}

TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryVCF, kVcf)
TYPERECOVERY_FORMAT(CTypeRecoveryVCF, {2306}, u".vcf", {u"vcf"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryVNT, kVnt)
TYPERECOVERY_FORMAT(CTypeRecoveryVNT, {2307}, u".vnt", {u"vnt"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryDRW, kDrw)
TYPERECOVERY_FORMAT(CTypeRecoveryDRW, {2329}, u".drw", {u"drw"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryGHO, kGho)
TYPERECOVERY_FORMAT(CTypeRecoveryGHO, {1799}, u".gho", {u"gho", u"ghs"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryDXF, kDxf)
TYPERECOVERY_FORMAT(CTypeRecoveryDXF, {1546}, u".dxf", {u"dxf"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoverySDR, kSdr)
TYPERECOVERY_FORMAT(CTypeRecoverySDR, {1558}, u".sdr;.sdt", {u"sdr", u"sdt"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryPZF, kPzf)
TYPERECOVERY_FORMAT(CTypeRecoveryPZF, {1559}, u".pzf", {u"pzf"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryPFB, kPfb)
TYPERECOVERY_FORMAT(CTypeRecoveryPFB, {2318}, u".pfb", {u"pfb"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryVFB, kVfb)
TYPERECOVERY_FORMAT(CTypeRecoveryVFB, {1568}, u".vfb", {u"vfb"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryGP5, kGp5)
TYPERECOVERY_FORMAT(CTypeRecoveryGP5, {2327}, u".gp5", {u"gp5"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryQCD, kQcd)
TYPERECOVERY_FORMAT(CTypeRecoveryQCD, {1554}, u".qcd", {u"qcd"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoverySWI, kSwi)
TYPERECOVERY_FORMAT(CTypeRecoverySWI, {1041}, u".swi", {u"swi"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryEXB, kExb)
TYPERECOVERY_FORMAT(CTypeRecoveryEXB, {1551}, u".exb", {u"exb"})
TYPERECOVERY_END_MARKER_ROW(CTypeRecoveryURL, kUrl)
TYPERECOVERY_FORMAT(CTypeRecoveryURL, {1282}, u".url", {u"url"})
