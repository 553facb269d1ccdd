// CTypeRecoveryCAB: cabinet files, copied whole by the cabinet size of their
// header. One extension, no maximum, base close and progress record.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_CAB_H
#define TYPERECOVERY_FORMATS_DOCUMENT_CAB_H

#include "framework/cycles/FixedSizeCycle.h"

class CTypeRecoveryCAB : public CFixedSizeCycle {
 public:
  static constexpr uint32_t kTypeCode = 1797;

  CTypeRecoveryCAB(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;

 protected:
  // For a format that states its size in the same field under its own type
  // code; it supplies its own header test, extension and Clone.
  CTypeRecoveryCAB(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot);

  uint64_t DeclaredSize(const typerecovery::ByteView& header) const override;
};

#endif
