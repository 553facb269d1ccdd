// CTypeRecoveryAI: PDF documents (and illustrations stored as PDF), written
// as "pdf".
//
// The end is found by reading the document's text structure as it streams
// past, byte by byte, so that a marker or the words behind it may fall
// across strip ends and the result never depends on the host's lookahead:
// - "%%EOF" ends the document after the CR and LF bytes that follow it,
//   unless an incremental update follows (the next word behind line ends,
//   spaces, object numbers and comment lines is "obj"). Tools that append
//   an update often open it with a comment line (exiftool writes
//   "%BeginExifToolUpdate"), so comments are skipped here as a PDF reader
//   skips them. The bytes between the end and that word are held back
//   (up to 4 KiB) until it is known whether they belong to the file.
// - "endobj" followed by anything but another object, a cross-reference
//   section or "startxref" (again behind filler and comments) means the data
//   no longer belongs to the document: the file ends with the strip in which
//   that word is judged, cut (or is discarded if nothing of it was written
//   before that strip).
// The file also ends at 512 MiB, at the next PDF header or at a flush.
//
// Progress record: the base record, then, with a file in progress, the
// scanner's state (16 bytes) and the held-back bytes (a 32-bit count and the
// bytes).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_AI_H
#define TYPERECOVERY_FORMATS_DOCUMENT_AI_H

#include "framework/ByteCarry.h"
#include "framework/TypeRecovery.h"

class CTypeRecoveryAI : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryAI, 276)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint32_t kHoldLimit = 4096;

 private:
  enum Phase : uint8_t { kScanning, kAfterEof, kAfterEndobj };
  enum Follow { kFiller, kStructure, kForeign };
  // The word behind a marker, one byte at a time.
  Follow FollowByte(uint8_t b);
  void ResetScanner();

  // The scanner's state, saved as 16 bytes.
  struct State {
    uint8_t phase;
    uint8_t marker;       // 'e' (endobj) or '%' (%%EOF) while matched > 0
    uint8_t matched;      // bytes of that marker matched so far
    uint8_t inComment;    // behind a marker, inside a comment line
    uint8_t inLineEnd;    // behind "%%EOF", still in its CR and LF bytes
    uint8_t wordLength;   // letters of the word behind a marker
    uint8_t word[10];
  } m_state;
  typerecovery::ByteCarry<kHoldLimit> m_held;
};

#endif
