// CExif: reads the picture metadata of one found file (camera make and model,
// software, the two date texts, EXIF version, image dimensions, GPS
// position) from the image file directories of a TIFF structure held in
// memory.
//
// Two ways in, chosen by the caller before Parse:
//  - APP1 mode (kModeApp1): the buffer is a whole JPEG file; the data offset
//    is the offset of the first APP1 segment's payload (the byte after its
//    length field) and the data length is that segment's 16-bit length
//    field. The payload is "Exif\0\0" followed by the TIFF header; the TIFF
//    data ends with the segment (and never past the buffer).
//  - TIFF mode (kModeTiff): the buffer is a whole TIFF or camera-raw file
//    starting with its TIFF header; data offset 0, data length = the file's
//    size. The magic 42 is not checked (raw formats put other values there).
//
// Contract:
//  - Parse answers 1 when the header and the first directory were read
//    without failure, else 0; on 0 the caller must take nothing from the
//    object. A failing sub-directory (EXIF, GPS, interoperability) or next
//    directory only stops that directory; what it stored before stays.
//  - No read leaves the TIFF data or the buffer, whatever the offsets say.
//    Cyclic or deeply nested directory links end: the walk reads each
//    directory at most once and bounds its depth and its count.
//  - The reader allocates nothing, keeps no state between files (build a
//    fresh object per file, on the stack) and catches every exception inside
//    Parse (answering 0).
//  - Integers follow the byte order of the TIFF header; 32- and 64-bit
//    floats stored in the file are taken as little-endian, unswapped.
//  - Texts are narrow and zero-terminated, cut to the capacities of
//    tag_ExifInfo (one byte less than each field).
//
// Typical use (report mode, at a file's end):
//   CExif exif;
//   exif.SetInput(CExif::kModeTiff, 0, fileSize);
//   tag_PictureInfo picture = {};
//   if (exif.Parse(data, fileSize) == 1) {
//     tag_ExifInfo info;
//     exif.GetInfo(&info);
//     typerecovery::CopyExifToPicture(info, &picture);   // texts and GPS
//     ... width and height from info.width / info.height as the format says
//   }
//
// Not thread-safe per object; separate objects are independent.
#ifndef TYPERECOVERY_FORMATS_IMAGE_EXIF_H
#define TYPERECOVERY_FORMATS_IMAGE_EXIF_H

#include <cstdint>

#include "framework/Bytes.h"
#include "typerecovery.h"

// The metadata a caller takes from the reader, texts cut to their
// capacities (array size minus one) and zero-terminated.
struct tag_ExifInfo {
  char software[64];          // 0x0131 Software
  char exifVersion[5];        // 0x9000 ExifVersion (first four bytes)
  char make[32];              // 0x010F Make
  char model[40];             // 0x0110 Model
  char dateTimeOriginal[20];  // 0x9003 DateTimeOriginal
  char dateTime[20];          // 0x0132 DateTime
  int32_t width;              // 0x0100 ImageWidth / 0xA002 PixelXDimension
  int32_t height;             // 0x0101 ImageLength / 0xA003 PixelYDimension
  char latitudeRef[4];        // GPS 1
  double latitude;            // GPS 2, degrees
  char longitudeRef[4];       // GPS 3
  double longitude;           // GPS 4, degrees
  char altitudeRef[15];       // GPS 5, the value's bytes taken as text
  float altitude;             // GPS 6
};

class CExif {
 public:
  enum Mode : int32_t { kModeApp1 = 0, kModeTiff = 1 };
  enum ByteOrder : int32_t { kLittleEndian = 0, kBigEndian = 1 };

  // Bounds of the directory walk: nesting (sub-directories and next
  // directories together) and directories read per Parse.
  static constexpr uint32_t kMaxDepth = 32;
  static constexpr uint32_t kMaxDirectories = 128;

  CExif();
  virtual ~CExif();
  CExif(const CExif&) = delete;
  CExif& operator=(const CExif&) = delete;

  // Input description; set before Parse.
  void SetInput(Mode mode, uint32_t dataOffset, uint32_t dataLength) {
    m_mode = mode;
    m_dataOffset = dataOffset;
    m_dataLength = dataLength;
  }

  // Reads the header and the directories from buffer[0, length). 1 on
  // success (first directory read), else 0.
  uint32_t Parse(const uint8_t* buffer, uint32_t length);

  // Copies the metadata and the dimensions into destination (zero-filled
  // first).
  void GetInfo(tag_ExifInfo* destination) const;

  int32_t GetByteOrder() const { return m_byteOrder; }
  int32_t GetWidth() const { return m_width; }
  int32_t GetHeight() const { return m_height; }

 private:
  enum DirectoryKind { kMainDirectory, kGpsDirectory };
  struct Entry;

  bool ParseHeader(const uint8_t* buffer, uint32_t length, uint32_t* firstDirectory);
  bool ReadDirectory(uint32_t position, DirectoryKind kind, uint32_t depth);
  void HandleTag(const Entry& entry, DirectoryKind kind);
  bool MarkVisited(uint32_t position);

  uint16_t ReadU16(uint64_t offset) const;
  uint32_t ReadU32(uint64_t offset) const;
  double ReadNumber(const Entry& entry, uint32_t index) const;
  double ReadFraction(uint64_t offset) const;
  double ReadCoordinate(const Entry& entry) const;
  void ReadText(const Entry& entry, char* field, uint32_t capacity) const;

  int32_t m_byteOrder;
  int32_t m_width;
  int32_t m_height;
  tag_ExifInfo m_info;  // texts and GPS; width and height live above
  uint32_t m_dataLength;
  uint32_t m_dataOffset;
  int32_t m_mode;

  // The TIFF data being walked (offsets count from its first byte).
  typerecovery::ByteView m_tiff;
  uint32_t m_visited[kMaxDirectories];
  uint32_t m_visitedCount;
};

namespace typerecovery {

// Fills the EXIF part of a picture record (offsets 16 to 451: texts through
// Char2Unicode, GPS numbers); the size, type code, width and height are the
// caller's.
void CopyExifToPicture(const tag_ExifInfo& info, tag_PictureInfo* picture);

// Joins held blocks, in order, into one heap buffer of size bytes (a part
// not covered by the blocks is zero), freeing every block and emptying the
// list. Returns the buffer (release with std::free), or null when size is 0,
// above 4 GiB - 1, or the allocation fails; the blocks are freed either way.
uint8_t* JoinHeldBlocks(CDynArray<tag_RAMData>* blocks, uint64_t size);

}  // namespace typerecovery

#endif
