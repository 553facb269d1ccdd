// The documents, containers, fonts and profiles whose header states the whole
// file size. Each class runs the fixed-size copy cycle (FixedSizeCycle.h) and
// states only its header test and where its size stands; none keeps fields of
// its own, checks a maximum or has a progress record beyond the base one.
// Type-property flag 0 for all (no default maximum).
//
// - CTypeRecoveryCDR: RIFF drawings of the "cdr" form; RIFF size + 8 (no pad).
// - CTypeRecoveryCHM: compiled help ("ITSF" with its "ITSP" directory); the
//   64-bit file length of the header. Its natural end is reported whenever a
//   host context exists.
// - CTypeRecoveryMAX_PP: "ViGF" project files; the size word at 184 + 32.
// - CTypeRecoveryHLP: help files; the file size of the header.
// - CTypeRecoveryONE: notebook sections (their file-type GUID); size at 196.
// - CTypeRecoveryDBX: mail folders; the file size at 124.
// - CTypeRecoveryPST: mail stores ("!BDN"); the older format (version 14 or
//   15) keeps a 32-bit file size, the newer a 64-bit one.
// - CTypeRecoveryWPD: word-processor documents (FF "WPC"); size at 20.
// - CTypeRecoveryDEX: "dex" bytecode; the header's file_size.
// - CTypeRecoveryDAT: URL cache index files of version 5.2; size at 28.
// - CTypeRecoveryPFX: PKCS #12 key stores (a DER SEQUENCE holding version 3
//   and a data object); the SEQUENCE's two-byte length + 4.
// - CTypeRecoveryICC: colour profiles ("acsp"); the profile size.
// - CTypeRecoveryISO: disc images found at their primary volume descriptor,
//   32 KiB into the image; the output begins with 32 KiB of zeros in place of
//   the system area, so it has the image's full size.
// - CTypeRecoveryMB: 3-D scene files (an IFF "FOR4" group of form "Maya");
//   group size + 8.
// - CTypeRecoveryTTF: TrueType fonts (version 1.0) with a well-formed table
//   directory: search fields that agree with the table count, printable tags
//   in ascending order, every table behind the directory on a four-byte
//   boundary. (Fonts need no digital-signature table: DejaVu as Debian ships
//   it and fontforge's output have none.) The size is the largest table end,
//   rounded up to four bytes, as the tables are padded.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_FIXEDSIZEDOCUMENTS_H
#define TYPERECOVERY_FORMATS_DOCUMENT_FIXEDSIZEDOCUMENTS_H

#include "framework/cycles/FixedSizeCycle.h"

// Declares a fixed-size class that states only its header test and size.
#define TYPERECOVERY_FIXED_SIZE_CLASS(Class, code)                                           \
  class Class : public CFixedSizeCycle {                                                    \
   public:                                                                                  \
    static constexpr uint32_t kTypeCode = code;                                             \
    Class(CTypeRecoveryManager* host, const char16_t* outputRoot);                          \
    uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length,                        \
                             uint32_t verification) override;                               \
    CTypeRecovery* Clone() override;                                                        \
                                                                                            \
   protected:                                                                               \
    uint64_t DeclaredSize(const typerecovery::ByteView& header) const override;             \
  };

TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryCDR, 1544)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryMAX_PP, 1543)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryHLP, 283)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryONE, 263)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryDBX, 2049)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryPST, 2050)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryWPD, 273)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryDEX, 2313)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryDAT, 1284)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryPFX, 2315)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryICC, 1562)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryMB, 1548)
TYPERECOVERY_FIXED_SIZE_CLASS(CTypeRecoveryTTF, 2317)

class CTypeRecoveryCHM : public CFixedSizeCycle {
 public:
  static constexpr uint32_t kTypeCode = 281;
  CTypeRecoveryCHM(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;

 protected:
  uint64_t DeclaredSize(const typerecovery::ByteView& header) const override;
  bool ReportsWheneverHostExists() const override { return true; }
};

class CTypeRecoveryISO : public CFixedSizeCycle {
 public:
  static constexpr uint32_t kTypeCode = 1798;
  // The system area ahead of the primary volume descriptor.
  static constexpr uint32_t kSystemAreaSize = 32768;
  CTypeRecoveryISO(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;

 protected:
  uint64_t DeclaredSize(const typerecovery::ByteView& header) const override;
  // Writes the zero system area into an open output and leaves the rest of
  // the image as the size still to copy.
  void OnFileBegun(const typerecovery::ByteView& header, uint32_t* errorFlag) override;

 public:
  uint64_t LeadInBytes() const override { return kSystemAreaSize; }
};

#undef TYPERECOVERY_FIXED_SIZE_CLASS

#endif
