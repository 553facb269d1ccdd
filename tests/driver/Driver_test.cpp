#include <gtest/gtest.h>

#include "interface/Manager.h"
#include "support/FakeRecognizer.h"
#include "support/TestSupport.h"

using trtest::Bytes;
using trtest::FakeRecognizer;
using trtest::RecordReport;
using trtest::ReportLog;

namespace {

struct ReportManager {
  ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), RecordReport, nullptr);
  ~ReportManager() { TypeRecovery_CloseManager(m); }
  FakeRecognizer* AddPrototype(uint32_t code) {
    FakeRecognizer* p = new FakeRecognizer(code, m, nullptr);
    m->m_prototypes.Add(p);
    return p;
  }
  FakeRecognizer* Active(long i) { return static_cast<FakeRecognizer*>(m->m_actives.GetAt(i)); }
  uint32_t Feed(const std::vector<uint8_t>& strip, uint64_t position = 0, uint32_t* error = nullptr) {
    uint32_t local = 0;
    return TypeRecovery_Analyse(m, position, strip.data(), static_cast<uint32_t>(strip.size()), 0,
                                error != nullptr ? error : &local);
  }
};

std::vector<uint8_t> Header() { return Bytes().Text("FAKEHDR!").PadTo(64, 'h'); }
std::vector<uint8_t> Middle() { return Bytes().Text("middle..").PadTo(64, 'm'); }
std::vector<uint8_t> End() { return Bytes().Text("FAKEEND!").PadTo(64, 'e'); }

}  // namespace

TEST(Driver, RepeatedEightBytePatternSkipsTheHeaderPassButNotTheActives) {
  ReportManager r;
  FakeRecognizer* prototype = r.AddPrototype(513);
  // "FAKEHDR!" twice: a header that the repeated-pattern skip hides.
  EXPECT_EQ(r.Feed(Bytes().Text("FAKEHDR!FAKEHDR!").PadTo(64)), 0u);
  EXPECT_EQ(prototype->headerTests, 0);
  EXPECT_EQ(r.m->m_actives.GetCount(), 0);

  r.Feed(Header());
  ASSERT_EQ(r.m->m_actives.GetCount(), 1);
  r.Feed(std::vector<uint8_t>(64, 0));
  EXPECT_EQ(r.Active(0)->seenHeaderCodes.size(), 2u);
  EXPECT_EQ(r.Active(0)->GetBytesWritten(), 128u);
}

TEST(Driver, TheFirstPrototypeToAnswerWinsTheStrip) {
  ReportManager r;
  r.AddPrototype(513);
  FakeRecognizer* second = r.AddPrototype(1539);
  r.Feed(Header());
  ASSERT_EQ(r.m->m_actives.GetCount(), 1);
  EXPECT_EQ(r.Active(0)->GetTypeCode(), 513u);
  EXPECT_EQ(second->headerTests, 0);
}

TEST(Driver, AnActiveRecognizerOfTheSameClassBlocksASecondClone) {
  ReportManager r;
  r.AddPrototype(513);
  r.Feed(Header());
  r.Feed(Middle());
  EXPECT_EQ(r.Feed(Header(), 128), 1u);  // the active one cuts its own file
  ASSERT_EQ(r.m->m_actives.GetCount(), 1);
  EXPECT_EQ(r.Active(0)->seenHeaderCodes, (std::vector<uint32_t>{513, 0, 513}));
  ASSERT_EQ(r.log.reports.size(), 1u);
  EXPECT_EQ(r.log.reports[0].size, 128u);
  EXPECT_EQ(r.log.reports[0].complete, 0u);
}

TEST(Driver, ARecognizerThatEndsItsFileIsRetiredAndANewOneClonedInTheSameCall) {
  ReportManager r;
  r.AddPrototype(513);
  r.Feed(Header());
  FakeRecognizer* first = r.Active(0);
  first->headerOnlyEndsFile = true;
  EXPECT_EQ(r.Feed(Header(), 64), 1u);
  ASSERT_EQ(r.m->m_actives.GetCount(), 1);
  EXPECT_EQ(r.Active(0)->GetFileStart(), 64u);  // the new clone took the strip
  EXPECT_TRUE(r.Active(0)->IsFileInProgress());
  ASSERT_EQ(r.log.reports.size(), 1u);
  EXPECT_EQ(r.log.reports[0].start, 0u);
  EXPECT_EQ(r.log.reports[0].size, 64u);
  EXPECT_EQ(r.log.reports[0].complete, 1u);
}

TEST(Driver, OneStripFilesBackToBackAreEachCarvedOnce) {
  ReportManager r;
  r.AddPrototype(513);
  const std::vector<uint8_t> small = Bytes().Text("FAKEHDR!END").PadTo(64, 's');
  EXPECT_EQ(r.Feed(small, 0), 1u);
  EXPECT_EQ(r.m->m_actives.GetCount(), 1);  // the new clone is not checked in its first call
  EXPECT_EQ(r.Feed(small, 64), 1u);
  EXPECT_EQ(r.Feed(small, 128), 1u);
  ASSERT_EQ(r.log.reports.size(), 3u);
  EXPECT_EQ(r.log.reports[1].start, 64u);
  EXPECT_EQ(r.log.reports[2].start, 128u);
}

TEST(Driver, TheErrorFlagStopsTheWalkButTheCandidateIsStillCloned) {
  ReportManager r;
  r.AddPrototype(513);
  r.Feed(Header());
  r.Active(0)->setErrorOnAnalyse = true;
  // Make a second active of another class by hand.
  FakeRecognizer* second = new FakeRecognizer(1539, r.m, nullptr);
  r.m->m_actives.Add(second);
  uint32_t error = 0;
  r.Feed(Header(), 64, &error);
  EXPECT_EQ(error, 1u);
  EXPECT_TRUE(second->seenHeaderCodes.empty());
  // The walk left before it could drop the 513 candidate: a second 513
  // recognizer now exists beside the first.
  ASSERT_EQ(r.m->m_actives.GetCount(), 3);
  EXPECT_EQ(r.Active(2)->GetTypeCode(), 513u);
  EXPECT_EQ(r.Active(2)->GetFileStart(), 64u);
}

TEST(Driver, ARecognizerThatThrowsLosesOnlyItsOwnFileAndIsCounted) {
  ReportManager r;
  r.AddPrototype(513);
  r.Feed(Header());
  FakeRecognizer* other = new FakeRecognizer(1539, r.m, nullptr);
  other->ForceInProgress(0, 64);
  r.m->m_actives.Add(other);
  r.Active(0)->throwOnAnalyse = true;
  EXPECT_EQ(TypeRecovery_GetFaultCount(r.m), 0u);
  r.Feed(Middle(), 64);  // the first active throws; the second still takes the strip
  EXPECT_EQ(TypeRecovery_GetFaultCount(r.m), 1u);
  ASSERT_EQ(r.m->m_actives.GetCount(), 1);
  EXPECT_EQ(r.Active(0), other);
  EXPECT_EQ(r.Feed(End(), 128), 1u);
  ASSERT_EQ(r.log.reports.size(), 1u);  // the faulting recognizer's file is not reported
  EXPECT_EQ(r.log.reports[0].complete, 1u);
  EXPECT_EQ(r.log.reports[0].size, 128u);  // Middle and End: the strips it took

  // A clone that throws on its first strip is retired at once.
  static_cast<FakeRecognizer*>(r.m->m_prototypes.GetAt(0))->throwOnAnalyse = true;
  r.Feed(Header(), 192);
  EXPECT_EQ(r.m->m_actives.GetCount(), 0);
  EXPECT_EQ(TypeRecovery_GetFaultCount(r.m), 2u);
  EXPECT_EQ(TypeRecovery_GetFaultCount(nullptr), 0u);
}

TEST(Driver, FlushCountsFilesInProgressAndOpenOutputsAndEmptiesTheList) {
  ReportManager r;
  EXPECT_EQ(TypeRecovery_Flush(r.m), 0u);
  r.AddPrototype(513);
  r.Feed(Header());
  r.m->m_actives.Add(new FakeRecognizer(1539, r.m, nullptr));  // idle
  EXPECT_EQ(TypeRecovery_Flush(r.m), 1u);
  EXPECT_EQ(r.m->m_actives.GetCount(), 0);
  ASSERT_EQ(r.log.reports.size(), 1u);
  EXPECT_EQ(r.log.reports[0].complete, 0u);
  EXPECT_EQ(r.log.reports[0].size, 64u);
}

TEST(Driver, FlushCountsAnIdleRecognizerWithAnOpenOutputFile) {
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  m->m_prototypes.Add(new FakeRecognizer(513, m, m->m_outputRoot));
  uint32_t error = 0;
  std::vector<uint8_t> h = Header();
  TypeRecovery_Analyse(m, 0, h.data(), 64, 0, &error);
  FakeRecognizer* open = new FakeRecognizer(1539, m, m->m_outputRoot);
  uint32_t counter = 0;
  open->CreateOutputFile(&counter);  // an output file open, no file in progress
  m->m_actives.Add(open);
  EXPECT_EQ(TypeRecovery_Flush(m), 2u);
  EXPECT_EQ(m->m_actives.GetCount(), 0);
  TypeRecovery_CloseManager(m);
}

TEST(Driver, FolderModeCarvesFilesAcrossStripsWithNumbersContinuingAcrossClones) {
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  m->m_prototypes.Add(new FakeRecognizer(513, m, m->m_outputRoot));
  std::vector<uint8_t> image = Bytes().Raw(Header()).Raw(Middle()).Raw(End()).Zeros(64)
                                   .Raw(Header()).Raw(End());
  EXPECT_EQ(trtest::FeedImage(m, image, 64, 64), 2u);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"fak/00000.fak", "fak/00001.fak"}));
  EXPECT_EQ(dir.Read("fak/00000.fak").size(), 192u);
  EXPECT_EQ(dir.Read("fak/00001.fak"), Bytes().Raw(Header()).Raw(End()).vec());
  TypeRecovery_CloseManager(m);
}
