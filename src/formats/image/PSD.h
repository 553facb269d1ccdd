// CTypeRecoveryPSD: version-1 layered raster documents (type 1541, "psd").
//
// A file starts at a strip that begins with "8BPS" and version 1. Its size
// follows from the file itself: the 26-byte file header, three sections that
// each begin with their big-endian length (colour mode data, image
// resources, layer and mask information), then the image data: a u16
// compression field followed by raw pixels (channels x height x width x
// depth / 8 bytes), or, run-length encoded, a table of one big-endian u16
// byte count per row and channel followed by the rows. The recognizer walks
// the sections, reads the table as its strips arrive, and ends the file at
// the size so found, complete. A section length of 0xFFFFFFFC or more (a
// length that would not move the walk forward) ends the file incomplete at
// the strip's end; so does reaching the maximum file size (2 GiB unless the
// host gives another). A new header at a strip start cuts the open file,
// reported complete with its bytes taken. In report mode a file's natural
// end carries a picture record with width and height.
//
// Fields are read only from the strip, its lookahead and the last three bytes
// of the previous strip (for a field cut by a strip end without lookahead).
#ifndef TYPERECOVERY_FORMATS_IMAGE_PSD_H
#define TYPERECOVERY_FORMATS_IMAGE_PSD_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryPSD : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryPSD, 1541)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint32_t kFileHeaderSize = 26;

  ~CTypeRecoveryPSD() override;

 private:
  // Section state: 0 to 2 while walking the three sections, then at the
  // image data, or past it with the size known without a table.
  enum : uint8_t { kImageData = 3, kRawSizeKnown = 9 };

  void TakeHeader(const uint8_t* buffer);
  uint16_t Channels() const;
  uint32_t Depth() const;
  // Reads count (<= 4) bytes at file offset position from the previous
  // strip's tail or this strip and its lookahead; false when out of reach.
  bool ReadField(const typerecovery::ByteView& strip, uint64_t position, uint32_t count,
                 uint8_t* out) const;
  // Walks sections and the byte-count table; false: the file is broken.
  bool Walk(const typerecovery::ByteView& strip, uint32_t length);
  void StartImageData(const typerecovery::ByteView& strip);
  void KeepTail(const uint8_t* buffer, uint32_t length);

  uint8_t m_header[kFileHeaderSize];  // multi-byte fields in host (little-endian) order
  uint32_t m_rowsToRead;
  uint8_t m_section;
  uint64_t m_nextPosition;  // next section, compression field or byte count (file offset)
  uint32_t m_width;
  uint32_t m_height;
  uint8_t m_tail[3];  // last bytes of the previous strip
  uint32_t m_tailLength;
};

#endif
