// RealMedia recognizer: RealMedia video (RMVB) and audio (RA) files, one
// object serving both as sub-types that the host enables separately.
//
// A file starts at a strip that begins ".RMF" with a non-zero header size,
// and is followed chunk by chunk across strips (PROP, MDPR, CONT, DATA,
// INDX, and RMMD, which makes the file audio). Any other chunk ID ends the
// file before that chunk (reported complete). A chunk of size 0 cannot be
// stepped over: the strip is taken and the file ends incomplete, or is
// discarded unless it began by cutting an earlier file. A file of a
// sub-type the host did not ask for is discarded without a report. A new
// ".RMF" header at a strip start cuts a file in progress (reported
// complete). The file is created as "rmvb" and renamed at close to its
// sub-type's extension. Each sub-type has its own type-folder value (RMVB
// uses the base's). The progress record adds the two enable flags and, while
// a file is in progress, the chunk cursor and the current sub-type's code.
#ifndef TYPERECOVERY_FORMATS_MEDIA_RMVB_H
#define TYPERECOVERY_FORMATS_MEDIA_RMVB_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"
#include "framework/cycles/SubTypeSet.h"

class CTypeRecoveryRMVB : public CWithSubTypes<CMediaStripCycle, 2> {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryRMVB, 1031)
  TYPERECOVERY_PROGRESS_FIELDS

  // Sub-types in flag order: RA, RMVB.
  enum SubType { kRa = 0, kRmvb = 1, kSubTypeCount = 2 };
  static constexpr uint32_t kSubTypeCodes[kSubTypeCount] = {776, 1031};

  void CloseOutputFile() override;

  bool IsSubTypeEnabled(SubType subType) const { return m_subTypes.IsOn(subType); }
  SubType GetCurrentSubType() const { return static_cast<SubType>(m_subTypes.current); }

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;
  void BeforeCut() override;
  void BeforeEnd() override { DropUnwantedVideo(); }
  uint32_t* FileTypeFolderValue() override { return &CurrentFolderValue(); }

 private:
  void DropUnwantedVideo();

  uint32_t m_chunkCursor = 0;  // next chunk header, from the current strip's start
  bool m_beganByCut = false;   // the file began by cutting an earlier one
};

#endif
