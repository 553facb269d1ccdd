// Media and media-project formats whose header states the whole file size:
// APE lossless audio, type libraries (XPT), WTV recordings, AU
// audio (".snd"), AIFF, VEG projects, WRF recordings and MMF ringtones.
//
// Each class states only its header test and its size formula; the copy
// itself is the fixed-size cycle (FixedSizeCycle.h): a header at a strip
// start begins a file, exactly the declared number of bytes is taken, the
// file is reported complete at that size, and a new header of the same class
// at a strip start cuts a file in progress (reported incomplete with the
// bytes taken). A WTV header inside a recording is ordinary data: WTV files
// are never cut. AIF and MMF read their size as the MB recognizer does, WRF
// as the cabinet recognizer does (CAB.h). Nothing inside a file
// is read; a size field beyond the readable bytes reads as 0. No class sets
// a maximum size; all keep the base progress record.
#ifndef TYPERECOVERY_FORMATS_MEDIA_DECLAREDSIZEMEDIA_H
#define TYPERECOVERY_FORMATS_MEDIA_DECLAREDSIZEMEDIA_H

#include "framework/cycles/DeclaredSizeRow.h"

// The rows: class, type code, extension, the bytes the header test needs.
// APE: "MAC " descriptor of version 3.99; the size is the sum of the
// descriptor, header, seek table, header data and frame data byte counts.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryAPE, 771, u"ape", 65)
// XPT: the type-library magic; the size is the big-endian file length field.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryXPT, 2308, u"xpt", 17)
// AU: ".snd"; the size is the data offset plus the data size.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryAU, 777, u"au", 25)
// AIF: "FORM" of form type AIFC or AIFF; the size is the FORM size plus 8.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryAIF, 779, u"aif", 17)
// VEG: lower-case "riff"; the size is the 32-bit value at 16.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryVEG, 2328, u"veg", 17)
// MMF: "MMMD"; the size is the big-endian chunk size plus 8.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryMMF, 780, u"mmf", 17)
// WTV: the recording's GUID; the size is the 32-bit value at 90 shifted
// right by 4. A WTV header never cuts a recording in progress.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryWTV, 1039, u"wtv", 17,
 protected:
  bool CutsFileInProgress() const override { return false; })

// WRF: "WOTF"; the size is the 32-bit value at 8, read as the cabinet's.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryWRF, 1042, u"wrf", 17)

#endif
