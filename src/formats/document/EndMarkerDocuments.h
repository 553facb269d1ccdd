// The documents, drawings, fonts, disk images and cards whose size is not in
// their header and whose end is a fixed byte pattern. Each class is one row
// of the end-marker cycle (EndMarkerCycle.h): its header test, its marker,
// where after the marker the file ends, and its maximum size. The rows are
// in EndMarkerDocuments.cpp.
//
// - CTypeRecoveryVCF: vCards, to the "END:VCARD" that no further card follows.
// - CTypeRecoveryVNT: notes, to "END:VNOTE".
// - CTypeRecoveryDRW: drawings closed by "#END_OF_UGC".
// - CTypeRecoveryGHO: disk-image backups, to their closing record (the end is
//   reported whenever a host context exists).
// - CTypeRecoveryDXF: drawing exchange text, to "EOF" and its line end.
// - CTypeRecoverySDR, CTypeRecoveryPZF: drawings with a closing record.
// - CTypeRecoveryPFB: binary Type 1 fonts, to the "cleartomark" line and the
//   end-of-file segment mark (a new font cuts one in progress as complete).
// - CTypeRecoveryVFB: font sources, to the closing record.
// - CTypeRecoveryGP5: tablature version 5, to the closing record.
// - CTypeRecoveryQCD: CAD drawings, to "RASTERVARIABLES".
// - CTypeRecoverySWI: animation projects, to the closing record (a new
//   project cuts one in progress as complete).
// - CTypeRecoveryEXB: tutoring books, to the add-on storage name.
// - CTypeRecoveryURL: internet shortcuts, text up to the first eight zero
//   bytes.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_ENDMARKERDOCUMENTS_H
#define TYPERECOVERY_FORMATS_DOCUMENT_ENDMARKERDOCUMENTS_H

#include "framework/cycles/EndMarkerCycle.h"

#define TYPERECOVERY_END_MARKER_CLASS(Class)                           \
  class Class : public CEndMarkerCycle {                                \
   public:                                                              \
    Class(CTypeRecoveryManager* host, const char16_t* outputRoot);      \
    CTypeRecovery* Clone() override;                                    \
  };

TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryVCF)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryVNT)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryDRW)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryGHO)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryDXF)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoverySDR)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryPZF)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryPFB)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryVFB)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryGP5)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryQCD)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoverySWI)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryEXB)
TYPERECOVERY_END_MARKER_CLASS(CTypeRecoveryURL)

#undef TYPERECOVERY_END_MARKER_CLASS

#endif
