// CTypeRecoveryDWG: CAD drawings ("AC10" and a two-digit release number).
//
// A drawing states neither its size nor an end, so it is copied strip by
// strip until the manager's header pass finds another format at a strip's
// start; the drawing then ended before that strip, which is not written.
// Three signatures too weak to end a drawing are ignored: an MP3 frame
// beginning with the sync byte 0xFF, a Flash movie and an icon header, all
// short patterns that turn up inside drawing data. A new drawing header cuts
// the drawing in progress (complete flag 0, its bytes written as its size).
// The end before another format and the end at the maximum size (64 MiB) are
// reported with the complete flag 1, in report mode. The expected size
// follows the bytes taken. Base close and progress record.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_DWG_H
#define TYPERECOVERY_FORMATS_DOCUMENT_DWG_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryDWG : public CTypeRecovery {
 public:
  static constexpr uint32_t kTypeCode = 1545;

  CTypeRecoveryDWG(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
};

#endif
