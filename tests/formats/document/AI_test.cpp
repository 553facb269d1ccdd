// PDF end search: "%%EOF", incremental updates and broken "endobj".
#include <gtest/gtest.h>

#include "formats/document/AI.h"
#include "support/Carving.h"

using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

Bytes PdfStart() {
  Bytes b;
  b.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<</Type/Catalog>>\nendobj\n2 0 obj\n<<>>\nendobj\n");
  return b.Text("3 0 obj\n<</Length 99999>>stream\n");  // content follows
}

}  // namespace

TEST(Pdf, HeaderNeedsSeventeenBytesAndTheDash) {
  CTypeRecoveryAI r(nullptr, nullptr);
  const std::vector<uint8_t> pdf = PdfStart();
  EXPECT_EQ(r.IsHeaderMatched(pdf.data(), 17, 0), 276u);
  EXPECT_EQ(r.IsHeaderMatched(pdf.data(), 16, 0), 0u);
  Bytes digit;
  digit.Text("%PDF1.4 and more text here");
  EXPECT_EQ(r.IsHeaderMatched(digit.data(), static_cast<uint32_t>(digit.size()), 0), 0u);
  EXPECT_EQ(r.GetMaxFileSize(), 0x20000000u);
  EXPECT_EQ(trtest::U8(r.GetExtension()), "pdf");
}

TEST(Pdf, EofFollowedByCrLfAndZerosEndsAfterTheLineEnd) {
  Bytes pdf = PdfStart();
  pdf.Text("\nendstream\nendobj\nxref\n0 3\ntrailer\n<<>>\nstartxref\n9\n%%EOF\r\n");
  const size_t size = pdf.size();
  pdf.PadTo(1024, 0);
  trtest::TempDir dir;
  FolderRun(dir, {{276}}, pdf, 512, 512);
  EXPECT_EQ(dir.Read("pdf/00000.pdf"), trtest::Prefix(pdf, size));
  const auto reports = ReportRun({{276}}, pdf, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, size);
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Pdf, IncrementalUpdateAfterEofRunsToTheLastEof) {
  Bytes pdf = PdfStart();
  pdf.Text("\nendstream\nendobj\nstartxref\n9\n%%EOF\n5 0 obj\n<<>>\nendobj\nxref\n3 1\ntrailer\n<<>>\nstartxref\n99\n%%EOF\n");
  const size_t size = pdf.size();
  pdf.PadTo(512, 0);
  const auto reports = ReportRun({{276}}, pdf, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, size);
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Pdf, EndobjFollowedByTrailerIsBrokenAndCutWithTheWholeStrip) {
  Bytes pdf = PdfStart();
  pdf.PadTo(600, ' ');
  pdf.Text("\nendstream\nendobj\ntrailer\n<<>>\n");
  pdf.PadTo(1536, 'x');
  const auto reports = ReportRun({{276}}, pdf, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Pdf, BrokenEndobjInTheFirstStripDiscardsTheFile) {
  Bytes pdf = PdfStart();
  pdf.Text("\nendstream\nendobj\n%garbage\n").PadTo(1024, 'x');
  EXPECT_TRUE(ReportRun({{276}}, pdf, 512, 0).empty());
  trtest::TempDir dir;
  FolderRun(dir, {{276}}, pdf, 512, 0);
  EXPECT_TRUE(dir.Files().empty());
}

TEST(Pdf, EofWhoseFollowersRunToTheLookaheadEndDoesNotEndTheStrip) {
  Bytes pdf = PdfStart();
  pdf.PadTo(512 - 7, ' ');
  pdf.Text("%%EOF\r\n");  // only filler after it up to the limit
  CTypeRecoveryAI r(nullptr, nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, pdf.data(), 512, 0, 276, &error), 0u);
  EXPECT_TRUE(r.IsFileInProgress());
  // With a lookahead that shows what follows, the file ends after CR LF.
  Bytes more = pdf;
  more.Text("\x01\x02");
  more.PadTo(600, 0);
  CTypeRecoveryAI s(nullptr, nullptr);
  EXPECT_EQ(s.Analyse(0, more.data(), 512, 88, 276, &error), 1u);
  EXPECT_EQ(s.GetBytesWritten(), 512u);
}

TEST(Pdf, EofJudgedWithTheLookaheadMayReachIntoIt) {
  Bytes pdf = PdfStart();
  pdf.PadTo(512 - 5, ' ');
  pdf.Text("%%EOF\r\n\r\n").PadTo(1024, 0);
  CTypeRecoveryAI r(nullptr, nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, pdf.data(), 512, 512, 276, &error), 1u);
  EXPECT_EQ(r.GetBytesWritten(), 516u);
}

TEST(Pdf, SecondHeaderCutsTheFirstWithItsBytesWritten) {
  Bytes image = PdfStart();
  image.PadTo(1024, ' ');
  Bytes second = PdfStart();
  second.PadTo(700, ' ').Text("\nendstream\nendobj\nstartxref\n9\n%%EOF\n");
  image.Raw(second).PadTo(2048, 0);
  const auto reports = ReportRun({{276}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_EQ(reports[1].start, 1024u);
  EXPECT_EQ(reports[1].size, second.size());
}

TEST(Pdf, SizeLimitCutsAtTheStripThatReachesIt) {
  Bytes pdf = PdfStart();
  pdf.PadTo(4096, ' ');
  const auto reports = ReportRun({{276, 1500}}, pdf, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1536u);
  EXPECT_EQ(reports[0].complete, 0u);
}
