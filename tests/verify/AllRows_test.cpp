// Every row of the header-verification table, driven from one table: a
// buffer that begins like a file of the row's type answers 1, a foreign one
// -1. Matching buffers are the first bytes of real fixtures where a tool
// made one, crafted headers otherwise. Rows whose recognizer classes are not
// registered yet are skipped and named. With every class built, the type
// table lists all 142 types and "add all types" makes 87 prototypes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "formats/document/CraftedDocuments.h"
#include "interface/Manager.h"
#include "registry/RecognizerFactory.h"
#include "support/TestSupport.h"
#include "typerecovery.h"

namespace {

using trtest::Bytes;
using Buffer = std::vector<uint8_t>;

// The first 64 KiB of a fixture (the recognizers look at a strip's start).
Buffer FixtureStart(const std::string& path) {
  Buffer all = trtest::ReadFile(trtest::DataPath(path));
  if (all.size() > 65536) all.resize(65536);
  return all;
}

// Crafted headers of the declared-size media formats.
Buffer Ape() { return Bytes().Text("MAC ").U32LE(3990).Zeros(120); }
Buffer Xpt() { return Bytes().Text("XPCOM\nTypeLib\r\n\x1A").U32LE(0x0102).U32LE(400).Zeros(100); }
Buffer Veg() { return Bytes().Text("riff").U32LE(0).Zeros(40); }
Buffer Wrf() { return Bytes().Text("WOTF").U32LE(0).Zeros(60); }

struct Row {
  const char16_t* extension;
  std::vector<const char*> classes;  // the row's recognizer classes ("iso": none)
  std::function<Buffer()> matching;
};

std::vector<Row> Rows() {
  auto fixture = [](const char* path) { return [path] { return FixtureStart(path); }; };
  return {
      {u"doc", {"CTypeRecoveryOLE2"}, fixture("document/text.doc")},
      {u"wpd", {"CTypeRecoveryWPD"}, [] { return crafted::Wpd(1500); }},
      {u"dbx", {"CTypeRecoveryDBX"}, [] { return crafted::Dbx(640); }},
      {u"pst", {"CTypeRecoveryPST"}, [] { return crafted::Pst(14, 1000); }},
      {u"rtf", {"CTypeRecoveryRTF"}, fixture("document/sample.rtf")},
      {u"zip", {"CTypeRecoveryZIP"}, fixture("document/archive.zip")},
      {u"one", {"CTypeRecoveryONE"}, [] { return crafted::One(1100); }},
      {u"rar", {"CTypeRecoveryRAR"}, fixture("document/sample.rar")},
      {u"7z", {"CTypeRecovery7Z"}, fixture("document/sample.7z")},
      {u"cab", {"CTypeRecoveryCAB"}, fixture("document/sample.cab")},
      {u"iso", {}, [] { return Buffer(4096, 0); }},
      {u"pdf", {"CTypeRecoveryAI"}, fixture("document/sample.pdf")},
      {u"html", {"CTypeRecoveryHTML"}, fixture("document/sample.html")},
      {u"chm", {"CTypeRecoveryCHM"}, [] { return crafted::Chm(1300); }},
      {u"mht", {"CTypeRecoveryMHT"}, fixture("document/sample.mht")},
      {u"hlp", {"CTypeRecoveryHLP"}, [] { return crafted::Hlp(900); }},
      {u"url", {"CTypeRecoveryURL"}, [] { return crafted::Url(); }},
      {u"jpg", {"CTypeRecoveryJPG"}, fixture("image/jpeg_plain.jpg")},
      {u"bmp", {"CTypeRecoveryBMP"}, fixture("image/lossless.bmp")},
      {u"gif", {"CTypeRecoveryGIF"}, fixture("image/lossless.gif")},
      {u"png", {"CTypeRecoveryPNG"}, fixture("image/lossless.png")},
      {u"psd", {"CTypeRecoveryPSD"}, fixture("image/layered.psd")},
      {u"ico", {"CTypeRecoveryICO"}, fixture("image/icons.ico")},
      {u"mp3", {"CTypeRecoveryMP3"}, fixture("media/plain.mp3")},
      {u"ape", {"CTypeRecoveryAPE"}, Ape},
      {u"wmv", {"CTypeRecoveryWMV"}, fixture("media/video.wmv")},
      {u"mid", {"CTypeRecoveryMID"}, fixture("media/tune.mid")},
      {u"amr", {"CTypeRecoveryAMR"}, fixture("media/speech.amr")},
      {u"mpg", {"CTypeRecoveryMPG"}, fixture("media/program.mpg")},
      {u"rm", {"CTypeRecoveryRMVB"}, fixture("media/video.rm")},
      {u"mxf", {"CTypeRecoveryMXF"}, fixture("media/video.mxf")},
      {u"wtv", {"CTypeRecoveryWTV"}, fixture("media/video.wtv")},
      {u"swf", {"CTypeRecoverySWF"}, fixture("media/movie.swf")},
      {u"crw", {"CTypeRecoveryCRW"}, fixture("image/sample.crw")},
      {u"dwg", {"CTypeRecoveryDWG"}, [] { return crafted::Dwg(1700); }},
      {u"vcf", {"CTypeRecoveryVCF"}, [] { return crafted::Vcard(1); }},
      {u"gho", {"CTypeRecoveryGHO"}, [] { return crafted::Gho(); }},
      {u"gjd", {"CTypeRecoveryGJD"}, fixture("image/design.gjd")},
      {u"pcb", {"CTypeRecoveryPCB"}, fixture("image/board.pcb")},
      {u"tpf", {"CTypeRecoveryTPF"}, fixture("image/design.tpf")},
      {u"exb", {"CTypeRecoveryEXB"}, [] { return crafted::Exb(); }},
      {u"xpt", {"CTypeRecoveryXPT"}, Xpt},
      {u"max", {"CTypeRecoveryOLE2", "CTypeRecoveryMAX_PP"}, [] { return crafted::MaxPp(700); }},
      {u"mp4",
       {"CTypeRecoveryMP4", "CTypeRecoveryMOV", "CTypeRecovery3GP"},
       fixture("media/clip.mov")},
      {u"fla", {"CTypeRecoveryOLE2", "CTypeRecoveryZIP"}, fixture("document/archive.zip")},
      {u"cdr", {"CTypeRecoveryCDR", "CTypeRecoveryZIP"}, [] { return crafted::Cdr(2001); }},
      {u"tif", {"CTypeRecoveryTIFF"}, fixture("image/little.tif")},
      {u"exe", {"CTypeRecoveryEXE"}, fixture("document/sample.exe")},
      {u"tar", {"CTypeRecoveryTAR"}, fixture("document/sample.tar")},
      {u"ogg", {"CTypeRecoveryOGG"}, fixture("media/audio.ogg")},
      {u"dxf", {"CTypeRecoveryDXF"}, [] { return crafted::Dxf(); }},
      {u"lnk", {"CTypeRecoveryLNK"}, fixture("document/sample.lnk")},
      {u"qxp", {"CTypeRecoveryQXP"}, [] { return crafted::Qxp("XP", 1000); }},
      {u"qcd", {"CTypeRecoveryQCD"}, [] { return crafted::Qcd(); }},
      {u"mb", {"CTypeRecoveryMB"}, [] { return crafted::Mb(1900); }},
      {u"swi", {"CTypeRecoverySWI"}, [] { return crafted::Swi(); }},
      {u"sdr", {"CTypeRecoverySDR"}, [] { return crafted::Sdr(); }},
      {u"flv", {"CTypeRecoveryFLV"}, fixture("media/video.flv")},
      {u"psp", {"CTypeRecoveryPSP"}, fixture("image/sample.psp")},
      {u"pfx", {"CTypeRecoveryPFX"}, fixture("document/sample.pfx")},
      {u"emf", {"CTypeRecoveryEMF"}, fixture("image/drawing.emf")},
      {u"oci",
       {"CTypeRecoveryOCI"},
       [] {
         return crafted::Oci({64, 64});
       }},
      {u"icc", {"CTypeRecoveryICC"}, fixture("document/sample.icc")},
      {u"pzf", {"CTypeRecoveryPZF"}, [] { return crafted::Pzf(); }},
      {u"avi", {"CTypeRecoveryRIFF"}, fixture("media/clip.avi")},
      {u"dat", {"CTypeRecoveryDAT", "CTypeRecoveryRIFF"}, [] { return crafted::Dat(900); }},
      {u"dex", {"CTypeRecoveryDEX"}, [] { return crafted::Dex(900); }},
      {u"au", {"CTypeRecoveryAU"}, fixture("media/sound.au")},
      {u"abr", {"CTypeRecoveryABR"}, fixture("image/brushes.abr")},
      {u"pfb", {"CTypeRecoveryPFB"}, fixture("document/sample.pfb")},
      {u"ttf", {"CTypeRecoveryTTF"}, fixture("document/sample.ttf")},
      {u"vnt", {"CTypeRecoveryVNT"}, [] { return crafted::Vnote(); }},
      {u"mkv", {"CTypeRecoveryMKV"}, fixture("media/video.mkv")},
      {u"mts", {"CTypeRecoveryMTS"}, fixture("media/stream.m2ts")},
      {u"m4r", {"CTypeRecoveryM4R"}, fixture("media/tone.m4a")},
      {u"wmf", {"CTypeRecoveryWMF"}, fixture("image/drawing.wmf")},
      {u"vfb", {"CTypeRecoveryVFB"}, [] { return crafted::Vfb(); }},
      {u"aif", {"CTypeRecoveryAIF"}, fixture("media/sound.aiff")},
      {u"gp5", {"CTypeRecoveryGP5"}, [] { return crafted::Gp5(); }},
      {u"veg", {"CTypeRecoveryVEG"}, Veg},
      {u"drw", {"CTypeRecoveryDRW"}, [] { return crafted::Drw(); }},
      {u"x3f", {"CTypeRecoveryX3F"}, fixture("image/sample.x3f")},
      {u"wrf", {"CTypeRecoveryWRF"}, Wrf},
      {u"3g2", {"CTypeRecovery3G2"}, fixture("media/clip.3g2")},
      {u"m4v", {"CTypeRecoveryM4V"}, fixture("media/clip.m4v")},
      {u"mmf", {"CTypeRecoveryMMF"}, fixture("media/ringtone.mmf")},
  };
}

int32_t Match(const Buffer& buffer, const char16_t* extension) {
  return TypeRecovery_IsFileHeaderMatched(buffer.data(), static_cast<uint32_t>(buffer.size()),
                                          extension);
}

std::vector<std::string> MissingClasses(const Row& row) {
  std::vector<std::string> missing;
  for (const char* name : row.classes) {
    if (typerecovery::FindRecognizer(name) == nullptr) missing.push_back(name);
  }
  return missing;
}

TEST(AllRows, EveryRowAcceptsItsOwnHeaderAndRefusesAForeignBuffer) {
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 86u);
  // Bytes that begin no supported format (and are not a zero area).
  const Buffer foreign(4096, 0xEE);
  std::string skipped;
  for (const Row& row : rows) {
    const std::string name = trtest::U8(row.extension);
    const std::vector<std::string> missing = MissingClasses(row);
    if (!missing.empty()) {
      for (const std::string& m : missing) skipped += " " + m;
      continue;
    }
    const Buffer matching = row.matching();
    ASSERT_FALSE(matching.empty()) << name;
    EXPECT_EQ(Match(matching, row.extension), 1) << name;
    EXPECT_EQ(Match(foreign, row.extension), -1) << name;
  }
  if (!skipped.empty()) GTEST_SKIP() << "rows of unregistered classes skipped:" << skipped;
}

TEST(AllRows, EveryClassBuiltGivesAll142TypesAnd87Prototypes) {
  for (const Row& row : Rows()) {
    if (!MissingClasses(row).empty()) GTEST_SKIP() << "not every class is registered yet";
  }
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  CDynArray<tag_FileTypeProperty> types;
  EXPECT_EQ(TypeRecovery_GetAllSupportedFileTypes(m, &types), 142u);
  TypeRecovery_AddAllTypes(m);
  EXPECT_EQ(m->m_prototypes.GetCount(), 87);
  TypeRecovery_CloseManager(m);
}

}  // namespace
