// CTypeRecoveryDWG: CAD drawings ("AC10" and a two-digit release number).
//
// A drawing states neither its size nor an end, so it is copied strip by
// strip until the manager's header pass finds another format at a strip's
// start; the drawing then ended before that strip, which is not written.
// Three signatures too weak to end a drawing are ignored: an MP3 frame
// beginning with the sync byte 0xFF, a Flash movie and an icon header, all
// short patterns that turn up inside drawing data. A new drawing header cuts
// the drawing in progress (complete flag 0, its bytes written as its size).
// The end before another format and the end at the maximum size (64 MiB) are
// reported with the complete flag 1, in report mode. The expected size
// follows the bytes taken. Base close and progress record.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_DWG_H
#define TYPERECOVERY_FORMATS_DOCUMENT_DWG_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryDWG : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryDWG, 1545)
  TYPERECOVERY_STRIP_ANALYSIS
};

#endif
