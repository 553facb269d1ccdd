// Crafted files of the document formats for their tests: each builder gives
// a whole file whose header, size fields and closing bytes are what carving
// reads, with filler text between that holds no marker. Also the helpers the
// document tests share.
#ifndef TYPERECOVERY_TESTS_FORMATS_DOCUMENT_CRAFTEDDOCUMENTS_H
#define TYPERECOVERY_TESTS_FORMATS_DOCUMENT_CRAFTEDDOCUMENTS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/Carving.h"

namespace crafted {

using trtest::Bytes;
using Buffer = std::vector<uint8_t>;

// Filler text up to a total size.
inline Bytes& FillTo(Bytes& b, size_t size) {
  static const char kText[] = "carved document body text ";
  for (size_t i = b.size(); i < size; ++i) b.U8(static_cast<uint8_t>(kText[i % (sizeof kText - 1)]));
  return b;
}
inline Buffer Fill(Bytes b, size_t size) { return FillTo(b, size); }
// A field at a fixed offset, then filler to size.
inline Buffer At(Bytes b, size_t at, const Bytes& field, size_t size) {
  return Fill(FillTo(b, at).Raw(field), size);
}

// ---- formats whose header states the whole size ----
inline Buffer Cdr(uint32_t riffSize) {
  return Fill(Bytes().Text("RIFF").U32LE(riffSize).Text("CDR9vrsn").U32LE(2).U16LE(900), riffSize + 8);
}
inline Buffer Chm(uint64_t size) {
  return At(Bytes().Text("ITSF").U32LE(3).U32LE(96).U32LE(1), 104,
            Bytes().U64LE(size).Zeros(8).Text("ITSP").U32LE(1), size);
}
inline Buffer MaxPp(uint32_t w) { return At(Bytes().Text("ViGF").U32LE(0x1A6B), 184, Bytes().U32LE(w), w + 32); }
inline Buffer Hlp(uint32_t size) { return Fill(Bytes().U32LE(0x35F3F).U32LE(16).U32LE(~0u).U32LE(size), size); }
inline Buffer One(uint32_t size) {
  return At(Bytes{0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3},
            196, Bytes().U32LE(size), size);
}
inline Buffer Dbx(uint32_t size) { return At(Bytes().U32LE(0xFE12ADCF).U32LE(0x11D1E2C5), 124, Bytes().U32LE(size), size); }
// Versions 14 and 15 keep a 32-bit size at 168, later ones a 64-bit size at 184.
inline Buffer Pst(uint16_t version, uint64_t size) {
  Bytes b;
  b.Text("!BDN").U32LE(0).Text("SM").U16LE(version).U16LE(19).U8(1).U8(1);
  if (version == 14 || version == 15) return At(b, 168, Bytes().U32LE(static_cast<uint32_t>(size)), size);
  return At(b, 184, Bytes().U64LE(size), size);
}
inline Buffer Wpd(uint32_t size, uint8_t major = 2) {
  return At(Bytes{0xFF, 'W', 'P', 'C'}.U32LE(0x200).U8(1).U8(0x0A).U8(major).U8(1).Zeros(4), 20,
            Bytes().U32LE(size), size);
}
inline Buffer Dex(uint32_t size) {
  return At(Bytes().Text("dex\n035").U8(0), 32, Bytes().U32LE(size).U32LE(0x70).U32LE(0x12345678), size);
}
inline Buffer Dat(uint32_t size) {
  return Fill(Bytes().Text("Client UrlCache MMF Ver 5.2").U8(0).U32LE(size).U32LE(0x5000), size);
}
inline Buffer Mb(uint32_t size) {
  return Fill(Bytes().Text("FOR4").U32BE(size - 8).Text("MayaFOR4").U32BE(32).Text("HEAD"), size);
}

// ---- end-marker formats: header, filler, the closing bytes ----
inline Buffer Vcard(int cards = 1) {
  Bytes b;
  for (int i = 0; i < cards; ++i) {
    b.Text("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Card " + std::to_string(i) + "\r\nNOTE:");
    b.Fill(600, 'n').Text("\r\nEND:VCARD\r\n");
  }
  return b;
}
inline Buffer Vnote() { return Bytes().Text("BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:").Fill(300, 'b').Text("\r\nEND:VNOTE"); }
inline Buffer Drw() { return At(Bytes().Text("#UGC:2 DRAWING 1.0\n"), 900, Bytes().Text("#END_OF_UGC\n"), 0); }
// 28 bytes close it.
inline Buffer Gho() {
  return At(Bytes{0xFE, 0xEF, 0x01, 0x00}.U32LE(0).U32LE(0x101).U32LE(0), 1500,
            Bytes{0x2F, 0x01, 0x18, 0x00}.Zeros(8).Fill(16, 0x77), 0);
}
inline Buffer Dxf() { return At(Bytes().Text("  0\r\nSECTION\r\n  2\r\nHEADER\r\n"), 700, Bytes().Text("\r\n  0\r\nEOF\r\n"), 0); }
inline Buffer Sdr() { return At(Bytes().Text("SMARTDRW").U32LE(7), 800, Bytes{0x40, 0x01, 0x40}, 0); }
inline Buffer Pzf() { return At(Bytes().Text("PCFFGRA4").U32LE(1), 640, Bytes().Fill(15, 0xFF).U8(1).U8(0x40), 0); }
inline Buffer Pfb() {
  return At(Bytes{0x80, 0x01}.U32LE(200).Text("%!PS-AdobeFont-1.0: Crafted 001\r"), 1100,
            Bytes().Text("\rcleartomark\r").U8(0x80).U8(0x03), 0);
}
inline Buffer Vfb() { return At(Bytes().U32LE(0x464C571A).U32LE(0x33031), 1000, Bytes{0, 5, 0, 0, 0, 2, 0, 0, 0}, 0); }
inline Buffer Gp5() { return At(Bytes().U8(0x18).Text("FICHIER GUITAR PRO v5.00"), 777, Bytes{0, 0, 0, 1, 0, 0, 0, 0x40}.Zeros(5), 0); }
inline Buffer Qcd() { return At(Bytes().U16LE(0x1F).Text("QCAD 2003").Zeros(5), 1200, Bytes().Text("RASTERVARIABLES"), 0); }
inline Buffer Swi() {
  Bytes b;
  b.U32LE(1).U16LE(0);
  for (char c : std::string("SWiSH Max")) b.U16LE(static_cast<uint8_t>(c));
  return At(b, 900, Bytes().U32LE(0).U32LE(50).U32LE(0), 0);
}
// 25 bytes close it.
inline Buffer Exb() { return At(Bytes().U8(0x10).Text("CaxaEbForWindows."), 650, Bytes().Text("CaxaEbForAddOnStorage").Fill(4, 'z'), 0); }
// The shortcut text only; the zeros that end it follow it on the disk.
inline Buffer Url() {
  return Bytes().Text("[InternetShortcut]\r\nURL=http://example.org/carving/recovered/page.html\r\nIconIndex=0\r\n");
}

// ---- open-ended formats ----
inline Buffer Dwg(size_t size) { return Fill(Bytes().Text("AC1015").Zeros(6).U8(0x1F), size); }
// kind "XP" (document) or "XT" (template)
inline Buffer Qxp(const std::string& kind, size_t size) {
  return Fill(Bytes{0, 0, 'I', 'I'}.Text("XPR3D D " + kind).U16LE(0x3E), size);
}
// "OPIM" (48 bytes of body), then chunks of the given body sizes.
inline Buffer Oci(const std::vector<uint32_t>& chunkSizes) {
  Bytes b;
  FillTo(b.Text("OPIM").U32LE(48), 56);
  const char* tags[] = {"OHDR", "OIMG", "OTXT", "OEND"};
  for (size_t i = 0; i < chunkSizes.size(); ++i) {
    b.Text(tags[i % 4]).U32LE(chunkSizes[i]);
    FillTo(b, b.size() + chunkSizes[i]);
  }
  return b;
}

// ---- shared by the document tests ----

// Little-endian UTF-16 of 8-bit text.
inline Buffer Wide(const std::string& text) {
  Bytes b;
  for (char c : text) b.U16LE(static_cast<uint8_t>(c));
  return b;
}
inline Buffer Slice(const Buffer& v, size_t from, size_t size) {
  return Buffer(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from + size));
}
// A folder-ID callback that records the extensions asked for and answers
// 1000 + the number of calls before.
inline std::vector<std::string> folderIdCalls;
inline uint32_t RecordFolderId(uintptr_t, const char16_t* extension) {
  folderIdCalls.push_back(trtest::U8(extension));
  return 999 + static_cast<uint32_t>(folderIdCalls.size());
}

// A file as carving should give it: its folder-mode path, and the start,
// size, complete flag and bytes reported and written.
struct Carved { std::string path; uint64_t start, size; uint32_t complete; Buffer bytes; };
// Carves image in folder mode and in report mode and checks that exactly
// these files come out, each with the extension of its path.
inline void ExpectCarved(const std::vector<trtest::AddedType>& types, const Buffer& image,
                         const std::vector<Carved>& files, uint32_t strip = 512, uint32_t lookahead = 512) {
  trtest::TempDir dir;
  uint32_t error = 0;
  trtest::FolderRun(dir, types, image, strip, lookahead, &error);
  EXPECT_EQ(error, 0u);
  std::vector<std::string> paths;
  for (const Carved& f : files) EXPECT_EQ(dir.Read(paths.emplace_back(f.path)), f.bytes) << f.path;
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(dir.Files(), paths);
  std::map<uint64_t, trtest::Report> byStart;
  for (const trtest::Report& r : trtest::ReportRun(types, image, strip, lookahead)) byStart[r.start] = r;
  ASSERT_EQ(byStart.size(), files.size());
  for (const Carved& f : files) {
    SCOPED_TRACE(f.path);
    ASSERT_EQ(byStart.count(f.start), 1u);
    const trtest::Report& r = byStart[f.start];
    EXPECT_EQ(r.extension, f.path.substr(f.path.rfind('.') + 1));
    EXPECT_EQ(r.size, f.size);
    EXPECT_EQ(r.complete, f.complete);
  }
}

// A report expected from a run; an empty extension is not checked.
struct Found { uint64_t start, size; uint32_t complete; std::string extension = ""; };
// A report-mode run of crafted bytes and the reports it must give.
struct Run {
  const char* what;
  std::vector<trtest::AddedType> types;
  Buffer image;
  uint32_t strip, lookahead;
  std::vector<Found> found;
};
inline void ExpectReports(const std::vector<trtest::Report>& reports, const std::vector<Found>& found) {
  EXPECT_EQ(reports.size(), found.size());
  for (size_t i = 0; i < std::min(reports.size(), found.size()); ++i) {
    const Found& f = found[i];
    EXPECT_EQ(reports[i].start, f.start) << i;
    EXPECT_EQ(reports[i].size, f.size) << i;
    EXPECT_EQ(reports[i].complete, f.complete) << i;
    if (!f.extension.empty()) {
      EXPECT_EQ(reports[i].extension, f.extension) << i;
    }
  }
}
inline void ExpectRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    SCOPED_TRACE(run.what);
    ExpectReports(trtest::ReportRun(run.types, run.image, run.strip, run.lookahead), run.found);
  }
}
// The run paused after the strips that start before stopAt, its progress
// saved and loaded into a fresh manager that gets the rest.
inline void ExpectResumed(const Run& run, size_t stopAt) {
  SCOPED_TRACE(run.what);
  ExpectReports(trtest::ResumedRun(run.types, run.image, run.strip, run.lookahead, stopAt), run.found);
}

}  // namespace crafted

#endif
