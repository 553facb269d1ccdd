// Crafted files of the fixed-size, end-marker and open-ended document
// formats, for the tests of those recognizers. Each builder gives a whole
// file whose header, size fields and closing bytes are what the format's
// carving reads; the content between is filler text that holds no marker.
#ifndef TYPERECOVERY_TESTS_FORMATS_DOCUMENT_CRAFTEDDOCUMENTS_H
#define TYPERECOVERY_TESTS_FORMATS_DOCUMENT_CRAFTEDDOCUMENTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace crafted {

using trtest::Bytes;

// Filler text up to a total size.
inline Bytes& FillTo(Bytes& b, size_t size) {
  static const char kText[] = "carved document body text ";
  for (size_t i = b.size(); i < size; ++i) b.U8(static_cast<uint8_t>(kText[i % (sizeof kText - 1)]));
  return b;
}

// Places a little-endian 32-bit value at offset of an existing buffer.
inline void PutU32LE(std::vector<uint8_t>& v, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void PutU64LE(std::vector<uint8_t>& v, size_t at, uint64_t value) {
  for (int i = 0; i < 8; ++i) v[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// ---- fixed-size formats: size is the whole file's ----

inline std::vector<uint8_t> Cdr(uint32_t riffSize) {
  Bytes b;
  b.Text("RIFF").U32LE(riffSize).Text("CDR9").Text("vrsn").U32LE(2).U16LE(900);
  return FillTo(b, riffSize + 8);
}

inline std::vector<uint8_t> Chm(uint64_t size) {
  Bytes b;
  b.Text("ITSF").U32LE(3).U32LE(96).U32LE(1);
  FillTo(b, 104).U64LE(size).Zeros(8).Text("ITSP").U32LE(1);
  return FillTo(b, size);
}

inline std::vector<uint8_t> MaxPp(uint32_t sizeWord) {
  Bytes b;
  b.Text("ViGF").U32LE(0x1A6B);
  FillTo(b, 184).U32LE(sizeWord);
  return FillTo(b, sizeWord + 32);
}

inline std::vector<uint8_t> Hlp(uint32_t size) {
  Bytes b;
  b.U32LE(0x00035F3F).U32LE(16).U32LE(0xFFFFFFFF).U32LE(size);
  return FillTo(b, size);
}

inline std::vector<uint8_t> One(uint32_t size) {
  Bytes b{0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
  FillTo(b, 196).U32LE(size);
  return FillTo(b, size);
}

inline std::vector<uint8_t> Dbx(uint32_t size) {
  Bytes b;
  b.U32LE(0xFE12ADCF).U32LE(0x11D1E2C5);
  FillTo(b, 124).U32LE(size);
  return FillTo(b, size);
}

// version 14 or 15: 32-bit size at 168; otherwise 64-bit size at 184.
inline std::vector<uint8_t> Pst(uint16_t version, uint64_t size) {
  Bytes b;
  b.Text("!BDN").U32LE(0).Text("SM").U16LE(version).U16LE(19).U8(1).U8(1);
  FillTo(b, 200);
  std::vector<uint8_t> v = b;
  if (version == 14 || version == 15) {
    PutU32LE(v, 168, static_cast<uint32_t>(size));
  } else {
    PutU64LE(v, 184, size);
  }
  Bytes out;
  out.Raw(v);
  return FillTo(out, size);
}

inline std::vector<uint8_t> Wpd(uint32_t size, uint8_t major = 2) {
  Bytes b;
  b.Raw({0xFF, 'W', 'P', 'C'}).U32LE(0x200).U8(1).U8(0x0A).U8(major).U8(1).U16LE(0).U16LE(0);
  FillTo(b, 20).U32LE(size);
  return FillTo(b, size);
}

inline std::vector<uint8_t> Dex(uint32_t size) {
  Bytes b;
  b.Text("dex\n035").U8(0);
  FillTo(b, 32).U32LE(size).U32LE(0x70).U32LE(0x12345678);
  return FillTo(b, size);
}

inline std::vector<uint8_t> Dat(uint32_t size) {
  Bytes b;
  b.Text("Client UrlCache MMF Ver 5.2").U8(0).U32LE(size).U32LE(0x5000);
  return FillTo(b, size);
}

inline std::vector<uint8_t> Mb(uint32_t size) {
  Bytes b;
  b.Text("FOR4").U32BE(size - 8).Text("Maya").Text("FOR4").U32BE(32).Text("HEAD");
  return FillTo(b, size);
}

// ---- end-marker formats: header, filler, the closing bytes ----

inline std::vector<uint8_t> Vcard(int cards = 1) {
  Bytes b;
  for (int i = 0; i < cards; ++i) {
    b.Text("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Card ").Text(std::to_string(i)).Text("\r\n");
    b.Text("NOTE:").Fill(600, 'n').Text("\r\nEND:VCARD\r\n");
  }
  return b;
}

inline std::vector<uint8_t> Vnote() {
  Bytes b;
  b.Text("BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:").Fill(300, 'b').Text("\r\nEND:VNOTE");
  return b;
}

inline std::vector<uint8_t> Drw() {
  Bytes b;
  b.Text("#UGC:2 DRAWING 1.0\n");
  FillTo(b, 900).Text("#END_OF_UGC\n");
  return b;
}

inline std::vector<uint8_t> Gho() {
  Bytes b;
  b.Raw({0xFE, 0xEF, 0x01, 0x00}).U32LE(0).U32LE(0x101).U32LE(0);
  FillTo(b, 1500).Raw({0x2F, 0x01, 0x18, 0x00}).Zeros(8).Fill(16, 0x77);  // 28 bytes close it
  return b;
}

inline std::vector<uint8_t> Dxf() {
  Bytes b;
  b.Text("  0\r\nSECTION\r\n  2\r\nHEADER\r\n");
  FillTo(b, 700).Text("\r\n  0\r\nEOF\r\n");
  return b;
}

inline std::vector<uint8_t> Sdr() {
  Bytes b;
  b.Text("SMARTDRW").U32LE(7);
  FillTo(b, 800).Raw({0x40, 0x01, 0x40});
  return b;
}

inline std::vector<uint8_t> Pzf() {
  Bytes b;
  b.Text("PCFFGRA4").U32LE(1);
  FillTo(b, 640).Fill(15, 0xFF).Raw({0x01, 0x40});
  return b;
}

inline std::vector<uint8_t> Pfb() {
  Bytes b;
  b.Raw({0x80, 0x01}).U32LE(200).Text("%!PS-AdobeFont-1.0: Crafted 001\r");
  FillTo(b, 1100).Text("\rcleartomark\r").Raw({0x80, 0x03});
  return b;
}

inline std::vector<uint8_t> Vfb() {
  Bytes b;
  b.U32LE(0x464C571A).U32LE(0x00033031);
  FillTo(b, 1000).Raw({0x00, 0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00});
  return b;
}

inline std::vector<uint8_t> Gp5() {
  Bytes b;
  b.U8(0x18).Text("FICHIER GUITAR PRO v5.00");
  FillTo(b, 777).Raw({0, 0, 0, 1, 0, 0, 0, 0x40}).Zeros(5);
  return b;
}

inline std::vector<uint8_t> Qcd() {
  Bytes b;
  b.U16LE(0x1F).Text("QCAD 2003").Zeros(4).U8(0);
  FillTo(b, 1200).Text("RASTERVARIABLES");
  return b;
}

inline std::vector<uint8_t> Swi() {
  Bytes b;
  b.U32LE(1).U16LE(0);
  for (char c : std::string("SWiSH Ma")) b.U8(static_cast<uint8_t>(c)).U8(0);
  b.U8('x').U8(0);
  FillTo(b, 900).U32LE(0).U32LE(50).U32LE(0);
  return b;
}

inline std::vector<uint8_t> Exb() {
  Bytes b;
  b.U8(0x10).Text("CaxaEbForWindows.");
  FillTo(b, 650).Text("CaxaEbForAddOnStorage").Fill(4, 'z');  // 25 bytes close it
  return b;
}

// The shortcut text only; the zeros that end it follow it on the disk.
inline std::vector<uint8_t> Url() {
  Bytes b;
  b.Text("[InternetShortcut]\r\nURL=http://example.org/carving/recovered/page.html\r\n");
  b.Text("IconIndex=0\r\n");
  return b;
}

// ---- open-ended formats ----

inline std::vector<uint8_t> Dwg(size_t size) {
  Bytes b;
  b.Text("AC1015").Zeros(6).U8(0x1F);
  return FillTo(b, size);
}

// kind "XP" (document) or "XT" (template)
inline std::vector<uint8_t> Qxp(const std::string& kind, size_t size) {
  Bytes b;
  b.Raw({0x00, 0x00, 'I', 'I'}).Text("XPR3").Text("D D ").Text(kind).U16LE(0x3E);
  return FillTo(b, size);
}

// "OPIM" (48 bytes of body), then chunks of the given body sizes.
inline std::vector<uint8_t> Oci(const std::vector<uint32_t>& chunkSizes) {
  Bytes b;
  b.Text("OPIM").U32LE(48);
  FillTo(b, 56);
  const char* tags[] = {"OHDR", "OIMG", "OTXT", "OEND"};
  for (size_t i = 0; i < chunkSizes.size(); ++i) {
    b.Text(tags[i % 4]).U32LE(chunkSizes[i]);
    FillTo(b, b.size() + chunkSizes[i]);
  }
  return b;
}

}  // namespace crafted

#endif
