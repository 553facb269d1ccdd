// RIFF recognizer: AVI video, WAV audio, video-CD tracks (CDXA) and animated
// cursors (ACON), one object serving all four forms as sub-types.
//
// A file starts at a strip that begins "RIFF", a non-zero size and one of the
// four form types; its size comes from the RIFF header alone (the size field
// plus 8; an animated cursor is exactly the size field long), and no inner
// chunk is read. Only the first RIFF chunk is taken: AVIX extension chunks
// are not joined. The file is created as "avi" and renamed at close to its
// form's extension. A form whose sub-type the host did not ask for is
// dropped: WAV, CDXA and ANI files at once, AVI files (the default form)
// when they end or are cut, without a report. A file cut by a new RIFF
// header, like one that reaches its size, is reported complete.
//
// Each sub-type has its own type-folder value: AVI uses the base's, the
// others three of their own. The progress record adds the four enable flags
// and, while a file is in progress, the current sub-type's code.
#ifndef TYPERECOVERY_FORMATS_MEDIA_RIFF_H
#define TYPERECOVERY_FORMATS_MEDIA_RIFF_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"
#include "framework/cycles/SubTypeSet.h"

class CTypeRecoveryRIFF : public CWithSubTypes<CMediaStripCycle, 4> {
 public:
  TYPERECOVERY_PROGRESS_FIELDS
  // The RIFF header: "RIFF", little-endian size of what follows, form type.
  static constexpr uint32_t kSizeOffset = 4;
  static constexpr uint32_t kFormTypeOffset = 8;
  static constexpr uint32_t kMinHeaderLength = 33;

  // Sub-types in flag order: AVI, WAV, CDXA, ANI.
  enum SubType { kAvi = 0, kWav = 1, kCdxa = 2, kAni = 3, kSubTypeCount = 4 };
  static constexpr uint32_t kSubTypeCodes[kSubTypeCount] = {1025, 770, 1037, 1566};

  CTypeRecoveryRIFF(CTypeRecoveryManager* host, const char16_t* outputRoot);

  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  void CloseOutputFile() override;
  CTypeRecovery* Clone() override;

  bool IsSubTypeEnabled(SubType subType) const { return m_subTypes.IsOn(subType); }
  SubType GetCurrentSubType() const { return static_cast<SubType>(m_subTypes.current); }
  // The type-folder value of a sub-type (AVI: the base's).
  uint32_t GetSubTypeFolderValue(SubType subType) const {
    return m_subTypes.FolderValue(subType, m_typeFolderValue);
  }

 protected:
  bool StartFile(const Strip& strip) override;
  void AfterOutputCreated(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;
  void BeforeCut() override { DropUnwantedDefault(); }
  void BeforeEnd() override { DropUnwantedDefault(); }
  uint32_t* FileTypeFolderValue() override { return &CurrentFolderValue(); }

 private:
  // An AVI (the default form) that the host did not ask for is discarded.
  void DropUnwantedDefault();
  // Takes the sub-type of a form type the host asked for, else discards.
  void TakeSubType(SubType subType, const char16_t* extension);
};

#endif
