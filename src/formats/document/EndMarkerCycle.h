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
// - Marker search: the first position p inside the strip (p < length) whose
//   guard bytes are readable (p + guard < length + lookahead) and where the
//   marker stands ends the file with the bytes up to p + part length; that
//   part may reach into the lookahead, and is cut to what is readable.
//   Otherwise the whole strip is taken. A marker is found only where it
//   begins inside a strip.
// - The expected size follows the bytes taken, so a flush reports what was
//   carved. Reaching the maximum file size ends the file with the complete
//   flag 0.
// - End: the file is reported with the complete flag 1 (0 at the maximum) in
//   report mode, or whenever a host context exists for rows that ask for it
//   (the missing callback of folder mode answers 0, which becomes the
//   type-folder value); counted; closed with the base CloseOutputFile.
// Only the base fields carry over between strips (base progress record).
//
// Hooks for a format that differs from its row in one point (defaults in
// brackets): EndAfterMarker, the end of a file whose marker stands at p
// [p + the row's part length]; CompleteAtMaximum, the complete flag of a file
// that reaches the maximum file size [0].
//
// The row and its marker bytes must be constants that outlive every object.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_ENDMARKERCYCLE_H
#define TYPERECOVERY_FORMATS_DOCUMENT_ENDMARKERCYCLE_H

#include <cstddef>
#include <cstdint>

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
};

// Adds the Clone of the concrete class.
template <class Format>
class CEndMarkerRecognizer : public CEndMarkerCycle {
 public:
  CTypeRecovery* Clone() override {
    return CloneRecognizer(static_cast<const Format*>(this), m_host, m_outputPath);
  }

 protected:
  using CEndMarkerCycle::CEndMarkerCycle;
};

#endif
