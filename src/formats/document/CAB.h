// CTypeRecoveryCAB: cabinet files, copied whole by the cabinet size of their
// header. One extension, no maximum, base close and progress record.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_CAB_H
#define TYPERECOVERY_FORMATS_DOCUMENT_CAB_H

#include "framework/cycles/FixedSizeCycle.h"

class CTypeRecoveryCAB : public CFixedSizeCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryCAB, 1797)

 protected:
  // For a format that states its size in the same field under its own type
  // code; it supplies its own header test, extension and Clone.
  CTypeRecoveryCAB(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot);

  uint64_t DeclaredSize(const typerecovery::ByteView& header) const override;
};

#endif
