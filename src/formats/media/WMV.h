// ASF recognizer: Windows Media video (WMV) and audio (WMA) files, one object
// serving both as sub-types that the host enables separately.
//
// A file starts at a strip that begins with the ASF Header Object (its size
// below 1 MiB, fewer than 4096 header objects). The objects inside the
// Header Object are walked across strips: the File Properties Object gives
// the file's size, and a Stream Properties Object of the video stream type
// makes the file a video. When the objects fill the header exactly, a file
// without a size, or without a video stream while audio is not wanted, is
// discarded; otherwise a file without video becomes audio. Objects whose
// sizes do not add up to the header size, and files of a sub-type the host
// did not ask for, are discarded without a report. The file is created as
// "wmv" and renamed at close to its sub-type's extension.
//
// A file that reaches its File Size is reported complete; it is handed to the
// host whenever a host context exists, so in folder mode its sub-type's
// type-folder value becomes 0. A file cut by a new ASF header is reported
// complete too (report mode only). Each sub-type has its own type-folder
// value (WMV uses the base's). The progress record adds the two enable flags
// and, while a file is in progress, the header cursor, the header size, the
// video-seen flag and the current sub-type's code.
#ifndef TYPERECOVERY_FORMATS_MEDIA_WMV_H
#define TYPERECOVERY_FORMATS_MEDIA_WMV_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"
#include "framework/cycles/SubTypeSet.h"

class CTypeRecoveryWMV : public CWithSubTypes<CMediaStripCycle, 2> {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryWMV, 1027)
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint32_t kGuidBytes = 16;

  // Sub-types in flag order: WMA, WMV.
  enum SubType { kWma = 0, kWmv = 1, kSubTypeCount = 2 };
  static constexpr uint32_t kSubTypeCodes[kSubTypeCount] = {772, 1027};

  void CloseOutputFile() override;

  bool IsSubTypeEnabled(SubType subType) const { return m_subTypes.IsOn(subType); }
  SubType GetCurrentSubType() const { return static_cast<SubType>(m_subTypes.current); }

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;
  void BeforeCut() override { DropUnwantedVideo(); }
  void BeforeEnd() override;
  uint32_t* FileTypeFolderValue() override { return &CurrentFolderValue(); }
  void ReportEndedFile(uint32_t complete) override;

 private:
  // Walks the header objects that begin in this strip; false when the file
  // was discarded.
  bool WalkHeaderObjects(const Strip& strip);
  // A video file that the host did not ask for is discarded.
  void DropUnwantedVideo();

  // The GUIDs compared against the file, in ASF's stored byte order.
  uint8_t m_filePropertiesGuid[kGuidBytes];
  uint8_t m_streamPropertiesGuid[kGuidBytes];
  uint8_t m_videoMediaGuid[kGuidBytes];

  uint32_t m_headerSize = 0;    // low half of the Header Object's size
  uint32_t m_headerCursor = 0;  // file offset of the next header object
  uint8_t m_videoSeen = 0;
  bool m_reportingEnd = false;  // the end (not a cut) is being reported
};

#endif
