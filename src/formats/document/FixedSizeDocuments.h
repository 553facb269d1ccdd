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

#include "framework/cycles/DeclaredSizeRow.h"

// The rows: class, type code, extension, the bytes the header test needs.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryCDR, 1544, u"cdr", 12)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryCHM, 281, u"chm", 125,
 protected:
  bool ReportsWheneverHostExists() const override { return true; })
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryMAX_PP, 1543, u"max", 17)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryHLP, 283, u"hlp", 17)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryONE, 263, u"one", 17)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryDBX, 2049, u"dbx", 5)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryPST, 2050, u"pst", 17)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryWPD, 273, u"wpd", 65)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryDEX, 2313, u"dex", 65)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryDAT, 1284, u"dat", 33)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryPFX, 2315, u"pfx", 33)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryICC, 1562, u"icc", 65)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryMB, 1548, u"mb", 17)
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryTTF, 2317, u"ttf", 65)
// The system area ahead of the primary volume descriptor is written as
// zeros into an open output; the rest of the image is the size still to copy.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryISO, 1798, u"iso", 512,
  static constexpr uint32_t kSystemAreaSize = 32768;
  uint64_t LeadInBytes() const override { return kSystemAreaSize; }
 protected:
  void OnFileBegun(const typerecovery::ByteView& header, uint32_t* errorFlag) override;)

#endif
