// CTypeRecoveryTIFF: TIFF files and the camera-raw formats built on TIFF
// (type 514 "TIF" and its sub-types CR2 515, NEF 516, DNG 517, ARW 518,
// ORF 519, SR2 520, RAW 521, PEF 522, MEF 523).
//
// A file starts at a strip of at least 257 bytes that begins with a TIFF or
// raw magic ("II*\0", "MM\0*", "IIRO", "IIRS", "IIU\0"). The recognizer never
// seeks back: it reads the image file directories as the data streams past,
// keeping what the structure points to ahead (directories, strip and tile
// offset and byte-count arrays, sub-directory arrays, the make text) in
// sorted pending lists served strip by strip. Every directory, out-of-line
// value, strip, tile and embedded preview moves the expected end forward;
// when nothing is pending any more, the file ends at that end plus a
// maker-specific trailer (CR2 optional data, ORF "IIRS" and RAW). Structure
// that points back to data already passed is ignored, except into the first
// 64 KiB, which are kept in memory when the first directory lies beyond them.
//
// The camera make and the magic decide the sub-type; each sub-type has an
// enable flag, its own maximum size and its own type-folder value. A file of
// a raw sub-type that is not enabled is discarded as soon as its make is
// read; a plain TIFF is discarded at its end when the TIFF sub-type is not
// enabled. A file is created as "TIF" and renamed into its sub-type's folder
// when it is closed. In report mode the whole file is held in memory and read
// at its end for the picture record (dimensions only when both exceed 256).
//
// Bounds against hostile data: at most 60,000 strip elements per table,
// 1,024 directories per file and 4,096 pending items; a cycle of directories
// ends at the first passed offset (or, within the cached start, at a
// directory read before); reads never leave the strip and its lookahead.
#ifndef TYPERECOVERY_FORMATS_IMAGE_TIFF_H
#define TYPERECOVERY_FORMATS_IMAGE_TIFF_H

#include <vector>

#include "framework/cycles/SubTypeSet.h"
#include "framework/TypeRecovery.h"

class CTypeRecoveryTIFF : public CWithSubTypes<CTypeRecovery, 10> {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryTIFF, 514)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_RECORD

  static constexpr size_t kSubTypes = 10;
  static constexpr size_t kRawSubTypes = 9;
  // Sub-type codes in flag order: CR2, ARW, NEF, ORF, SR2, RAW, PEF, DNG, MEF, TIFF.
  static constexpr uint32_t kSubTypeCodes[kSubTypes] = {515, 518, 516, 519, 520,
                                                        521, 522, 517, 523, 514};
  static constexpr uint64_t kDefaultMaxFileSize = 64ull << 20;

  ~CTypeRecoveryTIFF() override;
  // The raw sub-types' folder values go back too.
  void HandBackToPrototype() override { HandBackWithFolderValues(); }

  void CloseOutputFile() override { CloseAndRenameOutputFile(); }
  void DiscardOutputFile() override;
  // Hands on the enabled sub-types, their maxima and folder values.
  void CopyStateFrom(const CTypeRecovery* prototype) override;
  // Turns on the code's flag and keeps the size as its maximum.
  bool EnableSubType(uint32_t code, uint64_t maxFileSize) override;

  // For the registry's tests and the progress record.
  uint64_t GetSubTypeMaxFileSize(uint32_t code) const;
  uint32_t GetSubTypeCode() const { return m_subTypes.CurrentCode(); }

 private:
  enum SubType : size_t { kCR2, kARW, kNEF, kORF, kSR2, kRAW, kPEF, kDNG, kMEF, kTIFF };

  // One collected array of strip or tile offsets or byte counts.
  struct Column {
    uint8_t* data = nullptr;
    uint32_t fill = 0;
    uint32_t width = 4;  // bytes per element: 2 for SHORT, 4 for LONG
  };
  enum ColumnKind { kOffsets, kByteCounts };

  // What the strip being analysed offers: the file offset of its first byte,
  // its length and the bytes readable from it (strip plus lookahead).
  struct StripWindow {
    uint64_t start = 0;
    uint32_t length = 0;
    typerecovery::ByteView data;
    uint64_t End() const { return start + length; }
    uint64_t ReadableEnd() const { return start + data.size; }
    bool Holds(uint64_t offset, uint64_t size) const {
      return offset >= start && offset < End() && offset + size <= ReadableEnd();
    }
  };

  void Reset();
  void StartFile(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                 uint32_t* errorFlag);
  uint32_t EndTiffFile(uint32_t complete);
  uint64_t SubTypeMaximum() const;

  // The walk, in the order a strip is served.
  void FillCache();
  void ContinueCollections();
  void ServeSubDirectoryArray();
  void ServeDirectories();
  void ServeStripArrays();
  bool ServeMakeText();  // false: the make text is too long and ends the file
  void CheckCanonTrailer();

  void StartDirectory(uint64_t offset);
  void CollectDirectory(uint64_t from);
  void FinishDirectory();
  void ProcessDirectory(const typerecovery::ByteView& entries, uint32_t count);
  void ProcessEntry(const typerecovery::ByteView& entry);
  void AddDirectory(uint32_t offset);
  void DrainCachedDirectories();

  void StartColumn(ColumnKind kind, uint32_t count, uint32_t width);
  void CollectColumn(ColumnKind kind, const uint8_t* bytes, uint64_t available);
  void TakeStripArray(ColumnKind kind, uint32_t offset, uint32_t count, uint32_t width,
                      const uint8_t* inlineValue);
  bool IsColumnCollecting(const Column& column) const;
  void ProcessStripTable();
  void FreeColumn(Column* column);

  void SetMakeText(const uint8_t* text, uint32_t length);
  void DecideSubType();
  void UpdateDone();
  void RaiseEnd(uint64_t end);

  uint16_t FileU16(const typerecovery::ByteView& v, uint64_t offset) const;
  uint32_t FileU32(const typerecovery::ByteView& v, uint64_t offset) const;

  // Settings beside the sub-type set: the raw maxima.
  typerecovery::SubTypeMaxima<kRawSubTypes> m_maxima;

  // The file being followed (its sub-type is the set's current row).
  uint32_t m_magic;      // bytes 0 to 3, read little-endian
  uint32_t m_magicAt8;   // bytes 8 to 11, read little-endian
  uint8_t m_bigEndian;
  uint8_t* m_cache;      // the file's first 64 KiB, when the first directory lies beyond
  uint32_t m_cacheFill;
  uint32_t m_directoryCount;   // entries of the directory being collected
  uint8_t* m_directory;        // its entries and next-directory link
  uint32_t m_directoryFill;
  uint32_t m_tableCount;       // elements of the strip table being collected
  Column m_columns[2];         // offsets and byte counts
  uint32_t m_subDirectoryOffset;
  uint32_t m_subDirectoryCount;
  uint32_t m_makeOffset;       // pending make text (the part not yet copied)
  uint32_t m_makeLength;
  char* m_make;                // the make text copied so far, zero-terminated
  uint32_t m_makeTextLength;
  uint32_t m_makeCapacity;
  uint8_t m_xmp;
  uint8_t m_structureDone;
  uint32_t m_trailer;
  uint32_t m_jpegOffset;       // JPEGInterchangeFormat, for its length tag
  std::vector<uint32_t> m_pendingDirectories;           // ascending
  std::vector<tag_StripToAnalyse> m_pendingArrays[2];   // offsets, byte counts; ascending
  std::vector<uint32_t> m_cachedDirectories;            // found in the cache, to be read
  std::vector<uint32_t> m_cachedDirectoriesRead;
  uint32_t m_directoriesRead;
  bool m_refused;  // the sub-type just decided is not enabled: discard

  StripWindow m_strip;
};

#endif
