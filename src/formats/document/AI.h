// CTypeRecoveryAI: PDF documents (and illustrations stored as PDF), written
// as "pdf".
//
// The end is found by reading the document's text structure as it streams
// past. "%%EOF" ends the document unless another object follows it (an
// incremental update appended to the file); the file then ends after the
// CR and LF bytes that follow the marker. "endobj" followed by anything but
// another object, a cross-reference section or "startxref" means the data no
// longer belongs to the document: the file ends with this strip, cut (or is
// discarded if nothing of it was written before). Between the markers only
// line ends, spaces and digits (object and generation numbers) may stand.
// A marker is judged where it begins inside the strip, using the lookahead
// for what follows it; the part written may reach into the lookahead. The
// file also ends at 512 MiB, at the next PDF header or at a flush. Only the
// base fields carry over between strips.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_AI_H
#define TYPERECOVERY_FORMATS_DOCUMENT_AI_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryAI : public CTypeRecovery {
 public:
  static constexpr uint32_t kTypeCode = 276;

  CTypeRecoveryAI(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
};

#endif
