// CTypeRecoveryJPG: JPEG files (JFIF, EXIF, plain baseline or progressive
// streams).
//
// A file starts at a strip whose first bytes are the start-of-image marker
// followed by one of a fixed set of marker codes. The recognizer walks the
// header's marker segments (which may run across strips) up to the start of
// scan, then searches the entropy-coded data for the end-of-image marker and
// ends the file just after it; the end marker's second byte may be the first
// lookahead byte. A byte where a marker is expected ends the file at the end
// of its strip, incomplete. A new signature with an APPn marker at a strip
// start cuts the open file (incomplete) and starts a new one; any other
// signature inside an open file is an embedded image and stays part of it.
// A file that reaches the maximum size (64 MiB by default) ends there and
// counts as complete.
//
// Folder mode: every strip's bytes that belong to the file go straight to
// the output file. Report mode: the file is held in memory (held blocks) so
// that at its end the first APP1 segment's EXIF data fills the picture
// record handed to the host; width and height come from the last
// start-of-frame segment of any kind (baseline, extended, progressive,
// lossless).
//
// State between strips: the scan position (offset of the next expected
// marker relative to the coming strip), the in-scan flag, the dimensions,
// and in report mode the EXIF segment's place. Reads never leave the strip
// plus its lookahead.
#ifndef TYPERECOVERY_FORMATS_IMAGE_JPG_H
#define TYPERECOVERY_FORMATS_IMAGE_JPG_H

#include <cstdint>

#include "framework/TypeRecovery.h"

class CTypeRecoveryJPG : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryJPG, 513)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint64_t kDefaultMaxFileSize = 64ull * 1024 * 1024;
  // A strip shorter than this never starts a file.
  static constexpr uint32_t kMinHeaderLength = 17;

  ~CTypeRecoveryJPG() override;

  uint32_t GetImageWidth() const { return m_imageWidth; }
  uint32_t GetImageHeight() const { return m_imageHeight; }

 private:
  // Outcome of the marker walk over one strip.
  enum class WalkResult { kContinue, kMissingMarker };

  void ResetJpegState();
  void StartFile(uint64_t stripPosition, uint32_t* errorFlag);
  WalkResult WalkMarkers(const typerecovery::ByteView& view, uint32_t length);
  void ReportPicture(uint32_t complete);

  uint32_t m_scanPosition;
  uint32_t m_inScan;
  uint32_t m_exifSegmentLength;
  uint32_t m_exifSegmentOffset;
  uint32_t m_exifSeen;
  uint32_t m_imageHeight;
  uint32_t m_imageWidth;
  // File offset of the first held block: 0, or where a loaded file resumed.
  uint64_t m_heldStart;
};

#endif
