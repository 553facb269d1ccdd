// A small recognizer for driving the manager, driver, base and progress file
// in tests. Its format: a strip beginning with "FAKEHDR!" starts a file, a
// strip beginning with "FAKEEND!" is the file's last strip (complete), and
// every strip in between belongs to the file; "FAKEHDR!END" is a file of
// one strip. It is never registered with
// the library; tests put it into a manager's lists themselves.
#ifndef TYPERECOVERY_TESTS_SUPPORT_FAKERECOGNIZER_H
#define TYPERECOVERY_TESTS_SUPPORT_FAKERECOGNIZER_H

#include <cstring>
#include <stdexcept>
#include <vector>

#include "framework/TypeRecovery.h"
#include "interface/Manager.h"

namespace trtest {

class FakeRecognizer : public CTypeRecovery {
 public:
  FakeRecognizer(uint32_t code, CTypeRecoveryManager* host, const char16_t* root,
                 const char16_t* extension = u"fak")
      : CTypeRecovery(code, host, root) {
    SetExtension(extension);
  }

  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) override {
    ++headerTests;
    return (length >= 8 && std::memcmp(buffer, "FAKEHDR!", 8) == 0) ? m_typeCode : 0;
  }

  uint32_t Analyse(uint64_t position, const uint8_t* buffer, uint32_t length, uint32_t,
                   uint32_t headerTypeCode, uint32_t* errorFlag) override {
    seenHeaderCodes.push_back(headerTypeCode);
    if (throwOnAnalyse) throw std::runtime_error("fault");
    if (setErrorOnAnalyse) *errorFlag = 1;
    uint32_t ended = 0;
    if (IsHeaderMatched(buffer, length, 0) != 0) {
      if (headerOnlyEndsFile && m_fileInProgress != 0) return EndFile(1);
      ended += CutAtNewHeader(0);
      BeginFile(position, errorFlag);
    }
    if (m_fileInProgress == 0) return ended;
    TakeBytes(buffer, length, errorFlag);
    m_expectedSize = m_bytesWritten;
    const bool endsHere = (length >= 8 && std::memcmp(buffer, "FAKEEND!", 8) == 0) ||
                          (length >= 11 && std::memcmp(buffer, "FAKEHDR!END", 11) == 0);
    if (endsHere) ended += EndFile(1);
    return ended;
  }

  CTypeRecovery* Clone() override {
    FakeRecognizer* copy = new FakeRecognizer(m_typeCode, m_host, m_outputPath, m_extension);
    copy->CopyStateFrom(this);
    copy->throwOnAnalyse = throwOnAnalyse;
    copy->setErrorOnAnalyse = setErrorOnAnalyse;
    return copy;
  }

  // Test access to protected state and steps.
  using CTypeRecovery::BeginFile;
  using CTypeRecovery::EndFile;
  using CTypeRecovery::SetExtension;
  using CTypeRecovery::TakeBytes;
  using CTypeRecovery::HoldBlock;
  using CTypeRecovery::m_heldBlocks;
  using CTypeRecovery::DiscardOutputFile;
  using CTypeRecovery::CloseAndRenameOutputFile;
  void ForceInProgress(uint64_t start, uint64_t size) {
    m_fileInProgress = 1;
    m_fileStart = start;
    m_expectedSize = size;
  }

  bool throwOnAnalyse = false;
  bool setErrorOnAnalyse = false;
  bool headerOnlyEndsFile = false;  // a header strip ends the file and starts nothing
  int headerTests = 0;
  std::vector<uint32_t> seenHeaderCodes;
};

}  // namespace trtest

#endif
