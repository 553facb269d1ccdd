// The fixed-size copy cycle shared by the formats that state their size in
// their header.
#include "framework/cycles/FixedSizeCycle.h"


using typerecovery::ByteView;

uint32_t CFixedSizeCycle::Analyse(uint64_t stripPosition, const uint8_t* buffer,
                                  uint32_t length, uint32_t lookahead, uint32_t /*headerTypeCode*/,
                                  uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  uint32_t count = 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);

  const bool headerStep = (m_fileInProgress == 0 || CutsFileInProgress()) &&
                          IsHeaderMatched(buffer, length, 0) != 0;
  if (headerStep) {
    count += CutAtNewHeader(0);
    BeginFile(stripPosition, errorFlag);
    m_expectedSize = DeclaredSize(view);
    OnFileBegun(view, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  uint32_t part = length;
  bool ended = false;
  const uint64_t rest = m_expectedSize > m_bytesWritten ? m_expectedSize - m_bytesWritten : 0;
  if (rest <= length) {
    part = static_cast<uint32_t>(rest);
    ended = true;
  }
  TakeBytes(buffer, part, errorFlag);
  if (!ended) return count;
  tag_PictureInfo record;
  const tag_PictureInfo* picture = PictureRecord(&record) ? &record : nullptr;
  return count + EndFile(1, picture, ReportsWheneverHostExists());
}
