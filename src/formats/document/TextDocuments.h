// Text documents whose end is found by reading the text as it streams past:
// CTypeRecoveryHTML (the closing "</html>" tag, in 8-bit text or UTF-16 of
// either byte order), CTypeRecoveryRTF (braces counted until the outermost
// group closes) and CTypeRecoveryMHT (the closing delimiter of the MIME
// boundary named in the message header, or the first zero byte).
//
// CTextEndCycle is their shared strip cycle. Header step (the class's own
// header test at the strip's first byte): a file in progress is cut (report
// mode: reported with its bytes written, complete flag 0, counted), the
// output is closed, the format's own start runs, a file starts at the strip
// position and in folder mode gets its output file (failure: error flag 1).
// Then the format's end search gives the part of the strip that belongs to
// the file (it may reach into the lookahead, up to what is readable); the
// part is counted and written; the file also ends, cut, when it reaches its
// maximum size. At its end the file is handed to the found-file callback
// whenever a host context exists (in folder mode the missing callback
// answers 0, which becomes the type-folder value), then closed. The expected
// size follows the bytes taken, so a flush reports what was carved.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_TEXTDOCUMENTS_H
#define TYPERECOVERY_FORMATS_DOCUMENT_TEXTDOCUMENTS_H

#include <cstdint>

#include "framework/Bytes.h"
#include "framework/TypeRecovery.h"

class CTextEndCycle : public CTypeRecovery {
 public:
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;

 protected:
  CTextEndCycle(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot)
      : CTypeRecovery(typeCode, host, outputRoot) {}

  // The format's start at a header; view is the strip plus lookahead, length
  // the strip's length.
  virtual void StartFile(const typerecovery::ByteView& view, uint32_t length) = 0;
  // Searches the strip for the file's end: true with *part set (bytes from
  // the strip's first byte) when it is found.
  virtual bool FindEnd(const typerecovery::ByteView& view, uint32_t length, uint64_t* part) = 0;
  // Called when the file ends, before it is reported.
  virtual void OnFileEnded() {}
};

class CTypeRecoveryHTML : public CTextEndCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryHTML, 1281)
  TYPERECOVERY_PROGRESS_FIELDS

  // Also sets the wide and big-endian flags for the text it accepts.

 protected:
  void StartFile(const typerecovery::ByteView&, uint32_t) override {}
  bool FindEnd(const typerecovery::ByteView& view, uint32_t length, uint64_t* part) override;
  void OnFileEnded() override { m_wide = m_bigEndian = 0; }

 private:
  uint8_t m_wide;       // the file in progress is UTF-16 text
  uint8_t m_bigEndian;  // ... in big-endian byte order
  char16_t m_startTag[8];
  char16_t m_endTag[8];
};

class CTypeRecoveryRTF : public CTextEndCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryRTF, 280)
  void ProgressFields(typerecovery::ProgressRecord& record) override;

 protected:
  void StartFile(const typerecovery::ByteView&, uint32_t) override {
    m_depth = 0;
    m_escapePending = 0;
  }
  bool FindEnd(const typerecovery::ByteView& view, uint32_t length, uint64_t* part) override;

 private:
  int64_t m_depth;          // open groups
  uint8_t m_escapePending;  // the strip ended on a backslash: skip the next strip's first byte
};

class CTypeRecoveryMHT : public CTextEndCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryMHT, 282)
  void ProgressFields(typerecovery::ProgressRecord& record) override;

  static constexpr uint32_t kBoundaryBytes = 41;

 protected:
  void StartFile(const typerecovery::ByteView& view, uint32_t length) override;
  bool FindEnd(const typerecovery::ByteView& view, uint32_t length, uint64_t* part) override;

 private:
  uint8_t m_boundary[kBoundaryBytes];  // zero-filled when the header names none
};

#endif
