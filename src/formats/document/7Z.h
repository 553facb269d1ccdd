// CTypeRecovery7Z: 7-Zip archives, copied whole by the size their start
// header states (the next header lies at its offset after the 32-byte start
// header and is the archive's last part). One extension, no maximum, base
// close and progress record.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_7Z_H
#define TYPERECOVERY_FORMATS_DOCUMENT_7Z_H

#include "framework/cycles/FixedSizeCycle.h"

class CTypeRecovery7Z : public CFixedSizeCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecovery7Z, 1795)

 protected:
  uint64_t DeclaredSize(const typerecovery::ByteView& header) const override;
};

#endif
