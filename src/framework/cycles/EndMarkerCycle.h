// CEndMarkerCycle: the copy cycle of formats whose size is not in the header
// but whose last bytes are a fixed pattern. A format states itself in one
// constant EndMarkerFormat row (type code, extension, maximum, header test,
// end marker) and derives from CEndMarkerRecognizer<itself>; it writes no
// cycle code of its own.
//
// The cycle, per strip:
// - Header step, when the row's header test accepts the strip: a file in
//   progress is cut (in report mode reported with its bytes written as its
//   size and the row's cut flag as complete flag, counted), the output file
//   is closed, a new file starts at the strip position with nothing written,
//   and in folder mode its output file is created (failure: error flag 1, the
//   file is still followed).
// - With no file in progress and no output file the call returns at once.
// - Marker search, the same whatever lookahead the host gives (the lookahead
//   is never read): a position is judged once the bytes its marker, guard
//   and end need have arrived. The last bytes of each strip (the longest of
//   guard, part length and two bytes more) are therefore held back, not yet
//   written, and judged with the next strip's first bytes; the positions
//   before them are judged from the strip alone. The first position where
//   the marker stands ends the file with the bytes up to p + part length.
//   Otherwise what is not held back is taken. Held bytes are written when
//   they are judged, when a new header cuts the file, at the maximum and at
//   a flush, so no byte of a file is lost.
// - The expected size follows the bytes taken, so a flush reports what was
//   carved. Reaching the maximum file size ends the file with the complete
//   flag 0.
// - End: the file is reported with the complete flag 1 (0 at the maximum) in
//   report mode, or whenever a host context exists for rows that ask for it
//   (the missing callback of folder mode answers 0, which becomes the
//   type-folder value); counted; closed with the base CloseOutputFile.
// Progress record: the base record, then, with a file in progress, the held
// bytes (a 32-bit count and the bytes).
//
// Hooks for a format that differs from its row in one point (defaults in
// brackets): EndAfterMarker, the end of a file whose marker stands at p
// [p + the row's part length]; CompleteAtMaximum, the complete flag of a file
// that reaches the maximum file size [0].
//
// The row and its marker bytes must be constants that outlive every object.
#ifndef TYPERECOVERY_FRAMEWORK_CYCLES_ENDMARKERCYCLE_H
#define TYPERECOVERY_FRAMEWORK_CYCLES_ENDMARKERCYCLE_H

#include <cstddef>
#include <cstdint>

#include "framework/ByteCarry.h"
#include "framework/Bytes.h"
#include "framework/TypeRecovery.h"

struct EndMarker {
  const uint8_t* bytes;  // the pattern that stands at p
  size_t count;          // its length, never more than guard
  uint32_t partLength;   // the file ends at p + partLength
  uint32_t guard;        // p is tried only while p + guard < length + lookahead
  // A further condition on the bytes around a pattern found at p, or null.
  bool (*accepts)(const typerecovery::ByteView& view, uint64_t p);
};

struct EndMarkerFormat {
  uint32_t typeCode;
  const char16_t* extension;
  uint64_t maximumSize;
  uint32_t minimumLength;  // shortest strip the header test looks at
  // The header test proper, on the strip's bytes (length >= minimumLength).
  bool (*isHeader)(const typerecovery::ByteView& strip);
  EndMarker marker;
  uint32_t cutComplete;            // complete flag when a new header cuts a file
  bool reportsWheneverHostExists;  // report the end in folder mode too
};

// The first marker position of a strip, or -1 (see the contract above).
int64_t FindEndMarker(const typerecovery::ByteView& view, uint32_t length, const EndMarker& marker);

class CEndMarkerCycle : public CTypeRecovery {
 public:
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  uint32_t FinishFile() override;
  void ProgressFields(typerecovery::ProgressRecord& record) override;

 protected:
  // Sets type code, extension and maximum from the row.
  CEndMarkerCycle(const EndMarkerFormat& format, CTypeRecoveryManager* host,
                  const char16_t* outputRoot);

  virtual uint64_t EndAfterMarker(const typerecovery::ByteView& view, uint64_t p) const {
    (void)view;
    return p + m_format.marker.partLength;
  }
  virtual uint32_t CompleteAtMaximum() const { return 0; }

  const EndMarkerFormat& m_format;

 private:
  static constexpr uint32_t kLongestHold = 128;
  // Bytes at a strip's end that are judged with the next strip.
  uint32_t HoldLength() const;
  void WriteHeld(uint32_t* errorFlag);

  typerecovery::ByteCarry<2 * kLongestHold> m_held;
};

#endif
