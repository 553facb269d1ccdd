// Drawing and design files whose end is a fixed byte pattern, each a row of
// the end-marker cycle (EndMarkerCycle.h): a new header at a strip start cuts
// the open file (reported incomplete with its bytes taken); the first
// pattern that begins inside a strip ends the file, complete. The rows are in
// EndPatternPictures.cpp.
//
// - CTypeRecoveryWMF (1567, "wmf", 50 MiB): placeable metafiles, to the
//   end-of-file record (size 3 words, function 0: 03 00 00 00 00 00), looked
//   for from the file's first byte. Reaching the maximum ends a file
//   incomplete.
// - CTypeRecoveryPCB (1563, "pcb", 16 MiB): circuit-board files, to
//   "ENDCOMP" and, when a line end follows, two more bytes.
// - CTypeRecoveryGJD (1565, "gjd", 16 MiB): design files, to their closing
//   96 bytes (eight 0xFF bytes and 88 zero bytes).
// PCB and GJD files that reach their maximum are reported complete: these
// formats often end without their closing pattern.
#ifndef TYPERECOVERY_FORMATS_IMAGE_ENDPATTERNPICTURES_H
#define TYPERECOVERY_FORMATS_IMAGE_ENDPATTERNPICTURES_H

#include "framework/cycles/EndMarkerCycle.h"

class CTypeRecoveryWMF : public CEndMarkerCycle {
 public:
  CTypeRecoveryWMF(CTypeRecoveryManager* host, const char16_t* outputRoot);
  CTypeRecovery* Clone() override;
};

class CTypeRecoveryPCB : public CEndMarkerCycle {
 public:
  CTypeRecoveryPCB(CTypeRecoveryManager* host, const char16_t* outputRoot);
  CTypeRecovery* Clone() override;

 private:
  uint64_t EndAfterMarker(const typerecovery::ByteView& view, uint64_t p) const override;
  uint32_t CompleteAtMaximum() const override { return 1; }
};

class CTypeRecoveryGJD : public CEndMarkerCycle {
 public:
  CTypeRecoveryGJD(CTypeRecoveryManager* host, const char16_t* outputRoot);
  CTypeRecovery* Clone() override;

 private:
  uint32_t CompleteAtMaximum() const override { return 1; }
};

#endif
