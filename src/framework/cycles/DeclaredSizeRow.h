// CDeclaredSizeRow<Class>: the fixed-size formats that differ from one
// another only in a row of numbers and two small tests: type code,
// extension, the bytes the header test needs, the header test and the size
// formula. A named class is one line of TYPERECOVERY_DECLARED_SIZE_ROW in its
// group's header; its source gives Matches and Size beside the field offsets
// they read. The copy, the cut by a new header and the end are
// CFixedSizeCycle's (FixedSizeCycle.h).
//
// Matches and Size are static members of the named class, called directly:
// the header test costs no more than a hand-written one. Matches sees the
// buffer (at least kMinimumLength bytes) through a bounded view; Size sees
// the strip plus lookahead, where a field outside it reads as 0. A class
// that needs a hook of the cycle names it in the macro's last argument.
#ifndef TYPERECOVERY_FRAMEWORK_CYCLES_DECLAREDSIZEROW_H
#define TYPERECOVERY_FRAMEWORK_CYCLES_DECLAREDSIZEROW_H

#include <cstdint>

#include "framework/Bytes.h"
#include "framework/cycles/FixedSizeCycle.h"

template <class Class>
class CDeclaredSizeRow : public CFixedSizeCycle {
 public:
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) override {
    if (buffer == nullptr || length < Class::kMinimumLength) return 0;
    return Class::Matches(typerecovery::ByteView(buffer, length)) ? Class::kTypeCode : 0;
  }

 protected:
  CDeclaredSizeRow(uint32_t typeCode, const char16_t* extension, CTypeRecoveryManager* host,
                   const char16_t* outputRoot)
      : CFixedSizeCycle(typeCode, host, outputRoot) {
    SetExtension(extension);
    m_typePropertyFlag = 0;
  }

  uint64_t DeclaredSize(const typerecovery::ByteView& header) const override {
    return Class::Size(header);
  }
};

// One row: the class, its type code, extension and the minimum buffer its
// header test needs; anything after that is added to the class as written
// (a hook of the cycle).
#define TYPERECOVERY_DECLARED_SIZE_ROW(Class, code, extension, minimumLength, ...)            \
  class Class : public CDeclaredSizeRow<Class> {                                            \
   public:                                                                                  \
    static constexpr uint32_t kTypeCode = code;                                             \
    static constexpr uint32_t kMinimumLength = minimumLength;                               \
    Class(CTypeRecoveryManager* host, const char16_t* outputRoot)                           \
        : CDeclaredSizeRow(kTypeCode, extension, host, outputRoot) {}                       \
    CTypeRecovery* Clone() override;                                                        \
    static bool Matches(const typerecovery::ByteView& header);                              \
    static uint64_t Size(const typerecovery::ByteView& header);                             \
    __VA_ARGS__                                                                             \
  };

#endif
