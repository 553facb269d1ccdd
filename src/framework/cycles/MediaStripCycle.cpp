// The strip cycle of the media recognizers: header step, walk, write, end.
#include "framework/cycles/MediaStripCycle.h"


CMediaStripCycle::CMediaStripCycle(uint32_t typeCode, CTypeRecoveryManager* host,
                                   const char16_t* outputRoot, const Rules& rules)
    : CTypeRecovery(typeCode, host, outputRoot), m_rules(rules) {}

void CMediaStripCycle::ReportEndedFile(uint32_t complete) {
  ReportFileTo(FileTypeFolderValue(), complete);
}

uint32_t CMediaStripCycle::HeaderStep(const Strip& strip, uint32_t* errorFlag) {
  if (!m_rules.headerCutsFile && m_fileInProgress != 0) return 0;
  const uint32_t testLength =
      m_rules.headerTestSeesLookahead ? strip.length + strip.lookahead : strip.length;
  if (IsHeaderMatched(strip.data, testLength, 0) == 0) return 0;

  uint32_t cut = 0;
  BeforeCut();
  if (m_fileInProgress != 0) {
    m_expectedSize = m_bytesWritten;
    ReportEndedFile(m_rules.cutComplete);
    m_fileInProgress = 0;
    cut = 1;
  }
  CloseOutputFile();

  m_fileInProgress = 1;
  m_fileStart = strip.position;
  m_bytesWritten = 0;
  m_expectedSize = 0;
  if (!StartFile(strip)) {
    m_fileInProgress = 0;
    return cut;
  }
  if (HasOutputPath() && CreateOutputFile(&m_fileCounter) == 0 && errorFlag != nullptr) {
    *errorFlag = 1;
  }
  AfterOutputCreated(strip);
  return cut;
}

uint32_t CMediaStripCycle::Analyse(uint64_t stripPosition, const uint8_t* buffer,
                                   uint32_t length, uint32_t lookahead, uint32_t headerTypeCode,
                                   uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const Strip strip{stripPosition, buffer, length, lookahead, headerTypeCode,
                    typerecovery::ByteView(buffer, uint64_t{length} + lookahead)};

  uint32_t count = HeaderStep(strip, errorFlag);
  if (m_fileInProgress == 0 && !HasOpenOutputFile()) return count;

  Walk walk = WalkStrip(strip);
  const uint64_t limit =
      m_rules.takeMayReachLookahead && walk.ended ? uint64_t{length} + lookahead : length;
  if (walk.take > limit) walk.take = static_cast<uint32_t>(limit);
  if (walk.heldCount != 0) TakeBytes(walk.held, walk.heldCount, errorFlag);
  TakeBytes(buffer, walk.take, errorFlag);
  if (m_rules.sizeIsBytesTaken) m_expectedSize = m_bytesWritten;
  if (m_rules.endsAtMaximumSize && m_bytesWritten >= m_maxFileSize) {
    walk.ended = true;
    walk.complete = 0;
  }
  if (!walk.ended) return count;

  BeforeEnd();
  if (m_fileInProgress != 0) {
    ReportEndedFile(walk.complete);
    ++count;
  }
  m_fileInProgress = 0;
  CloseOutputFile();
  return count;
}
