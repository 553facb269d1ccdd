// CMediaStripCycle: the strip cycle shared by the audio and video recognizers.
//
// Every media recognizer turns strips into one output file by the same four
// steps; this class runs them in Analyse and a format states only what is its
// own: its header test, the header fields it keeps when a file starts, the
// walk that decides how many bytes of a strip belong to the file and whether
// the file ends there, and its own state between strips.
//
// One call of Analyse (strip position, buffer, length, lookahead, header
// type code, error flag):
//
//  1. Header step. Unless the rules say that a header is ignored while a
//     file is in progress (and one is), the object's own IsHeaderMatched is
//     asked about the strip (flag 0; length, or length plus lookahead when
//     Rules::headerTestSeesLookahead). When it answers non-zero:
//       a. BeforeCut() (a multi-format class drops a file of a sub-type that
//          was not asked for: DiscardOutputFile);
//       b. a file still in progress is cut here: its expected size becomes
//          the bytes taken so far, ReportEndedFile(Rules::cutComplete) hands
//          it to the host and it counts as ended;
//       c. CloseOutputFile; file in progress set, file start = strip
//          position, bytes written 0, expected size 0;
//       d. StartFile(strip) reads the format's header fields; when it
//          answers false no file starts (file in progress is cleared);
//       e. in folder mode CreateOutputFile, a failure setting the error flag
//          (the file is still followed); then AfterOutputCreated(strip)
//          (a multi-format class picks its sub-type and may discard).
//  2. No file in progress and no output file open: return the count.
//  3. Walk: WalkStrip(strip) answers the bytes to take from the strip's
//     start (clamped to the length, or to the readable bytes when the file
//     ends there and Rules::takeMayReachLookahead), whether the file ends in
//     this strip and with which complete flag. It may call
//     DiscardOutputFile: the file is then neither reported nor counted.
//  4. Write: the bytes the walk held back from earlier strips and then the
//     take are added to the bytes written and written to the open output
//     file (a failed or short write sets the error flag). With
//     Rules::sizeIsBytesTaken the expected size follows the bytes written.
//     With Rules::endsAtMaximumSize a file whose bytes written reach the
//     maximum file size ends now with the complete flag 0, whatever the
//     walk found.
//  5. End, when the file ended: BeforeEnd(); if a file is still in progress
//     ReportEndedFile(complete) and count it; clear file in progress;
//     CloseOutputFile (a multi-format class's renaming close).
//  Result: the number of files ended in the call (0, 1 or 2).
//
// Reports go to the host only in report mode (host context, no output
// path), with the file start, the expected size and the type-folder value
// that FileTypeFolderValue() points at (a multi-format class answers its
// current sub-type's value); the host's answer is stored back there.
//
// The walk reads only through Strip::readable (the strip plus lookahead) and
// never writes: the cycle writes. Strip data is never copied. Not
// thread-safe: one thread per manager, as for every recognizer.
#ifndef TYPERECOVERY_FRAMEWORK_CYCLES_MEDIASTRIPCYCLE_H
#define TYPERECOVERY_FRAMEWORK_CYCLES_MEDIASTRIPCYCLE_H

#include <cstdint>

#include "framework/Bytes.h"
#include "framework/TypeRecovery.h"

class CMediaStripCycle : public CTypeRecovery {
 public:
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;

  // What differs between formats in the fixed steps of the cycle.
  struct Rules {
    // false: a header at a strip start is ignored while a file is in progress.
    bool headerCutsFile = true;
    // Complete flag of a file cut off by a new header.
    uint32_t cutComplete = 0;
    // The header step asks IsHeaderMatched with length plus lookahead.
    bool headerTestSeesLookahead = false;
    // The expected size is kept equal to the bytes written (formats without
    // a size of their own); otherwise the format sets it.
    bool sizeIsBytesTaken = true;
    // The file ends (complete flag 0) at the end of the strip in which the
    // bytes written reach the maximum file size.
    bool endsAtMaximumSize = false;
    // The walk may end a file a few bytes into the lookahead (an end marker
    // that straddles the strip's end); the take is then clamped to the
    // readable bytes instead of the strip.
    bool takeMayReachLookahead = false;
  };

  // One call's data as the format sees it.
  struct Strip {
    uint64_t position;                // source position of the strip's first byte
    const uint8_t* data;              // the strip's first byte
    uint32_t length;                  // strip bytes of this call
    uint32_t lookahead;               // readable bytes after them (next strip's)
    uint32_t headerTypeCode;          // the manager's header pass for this strip, or 0
    typerecovery::ByteView readable;  // length + lookahead bytes
  };

  // The walk's answer for one strip.
  struct Walk {
    uint32_t take;      // bytes from the strip's start that belong to the file
    bool ended;         // the file ends after them
    uint32_t complete;  // complete flag when it ends
    // Bytes of earlier strips the walk held back until it knew they belong
    // to the file (a record header split by a strip end): written before
    // the take. They stay valid until the walk's next call.
    const uint8_t* held = nullptr;
    uint32_t heldCount = 0;

    static Walk WholeStrip(const Strip& strip) { return {strip.length, false, 0}; }
    static Walk EndAt(uint32_t take, uint32_t complete = 1) { return {take, true, complete}; }
  };

 protected:
  CMediaStripCycle(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot,
                   const Rules& rules);

  // Step 1d: read the header fields of the file that starts at the strip's
  // first byte (file start, bytes written and expected size already set).
  // false: no file starts.
  virtual bool StartFile(const Strip& strip) = 0;
  // Step 1e, after the output file was created (or not, in report mode).
  virtual void AfterOutputCreated(const Strip& strip) { (void)strip; }
  // Step 3.
  virtual Walk WalkStrip(const Strip& strip) = 0;
  // Step 1a and step 5, before a file is cut or ended.
  virtual void BeforeCut() {}
  virtual void BeforeEnd() {}
  // The type-folder value of the file in progress.
  virtual uint32_t* FileTypeFolderValue() { return &m_typeFolderValue; }
  // Hands an ended file to the host (report mode only, by default).
  virtual void ReportEndedFile(uint32_t complete);

 private:
  // Step 1; answers the files cut (0 or 1).
  uint32_t HeaderStep(const Strip& strip, uint32_t* errorFlag);

  Rules m_rules;
};

#endif
