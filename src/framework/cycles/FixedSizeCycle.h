// CFixedSizeCycle: the copy cycle of formats whose header states the whole
// file size. A format class derives from it and states only what differs:
// its header test (IsHeaderMatched), its size formula (DeclaredSize), its
// Clone, and, where its format needs one, one of the optional hooks below.
//
// The cycle, per strip:
// - Header step, when the class's own IsHeaderMatched(buffer, length, 0)
//   accepts the strip: a file in progress is cut (in report mode reported
//   with its bytes written as its size and the complete flag 0, counted),
//   the output file is closed, a new file starts at the strip position with
//   nothing written, its expected size becomes DeclaredSize of the header,
//   and in folder mode its output file is created (failure: error flag 1,
//   the file is still followed).
// - With no file in progress and no output file the call returns at once.
// - Copy: when bytes written + length reaches or passes the expected size,
//   only the rest up to the expected size belongs to the file and it ends in
//   this strip; otherwise the whole strip is taken. Nothing inside the file
//   is read.
// - End: in report mode the file is reported with its expected size and the
//   complete flag 1, counted; file in progress cleared; CloseOutputFile.
// Analyse answers the files ended in the call (0 to 2). No maximum file size
// is checked; the progress record is the base record (the expected size is
// in it).
//
// Hooks (defaults in brackets):
// - CutsFileInProgress [true]: false makes a header inside a file in
//   progress plain file data (the header step runs only when idle).
// - ReportsWheneverHostExists [false]: true reports the natural end also in
//   folder mode, where the missing callback answers 0 and the type-folder
//   value becomes 0.
// - OnFileBegun [nothing]: runs after the output file is created and the
//   expected size is set, e.g. to write a prefix the source does not hold.
// - PictureRecord [none]: fills the picture record handed to the host with a
//   file's natural end in report mode; answering false sends none.
//
// DeclaredSize and OnFileBegun see the strip plus its lookahead through a
// bounded view; a field outside it reads as 0.
#ifndef TYPERECOVERY_FRAMEWORK_CYCLES_FIXEDSIZECYCLE_H
#define TYPERECOVERY_FRAMEWORK_CYCLES_FIXEDSIZECYCLE_H

#include <cstdint>

#include "framework/Bytes.h"
#include "framework/TypeRecovery.h"

class CFixedSizeCycle : public CTypeRecovery {
 public:
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;

 protected:
  // Sets the type code; the derived constructor sets extension, maximum
  // (usually none) and type-property flag (0 for classes without a maximum).
  CFixedSizeCycle(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot)
      : CTypeRecovery(typeCode, host, outputRoot) {}

  // The whole file size stated by the header at the view's first byte.
  virtual uint64_t DeclaredSize(const typerecovery::ByteView& header) const = 0;

  virtual bool CutsFileInProgress() const { return true; }
  virtual bool ReportsWheneverHostExists() const { return false; }
  virtual void OnFileBegun(const typerecovery::ByteView& header, uint32_t* errorFlag) {
    (void)header;
    (void)errorFlag;
  }
  virtual bool PictureRecord(tag_PictureInfo* record) const {
    (void)record;
    return false;
  }
};

#endif
