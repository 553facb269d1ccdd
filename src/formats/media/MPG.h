// MPEG program-stream recognizer: MPEG-1 and MPEG-2 program streams and
// elementary video streams, which state no size of their own.
//
// A file starts at a strip that begins with a pack header, a system header,
// a sequence header (non-zero picture size, a valid aspect ratio) or a
// sequence extension, when no file is in progress: a header inside a stream
// never cuts it. Strips are taken until one of two end patterns (stuffing
// or a sequence end code, each followed by the program end code), which
// ends the file through its last byte even when it reaches into the
// lookahead (complete); until the manager's header pass finds another
// format's header at a strip start (the file ends before that strip,
// complete), except for MPEG audio frames, icons, Flash movies and
// transport streams, which occur inside program streams; or until the
// maximum size (4 GiB by default) is reached (incomplete). The size is the
// bytes taken. Base progress record only.
#ifndef TYPERECOVERY_FORMATS_MEDIA_MPG_H
#define TYPERECOVERY_FORMATS_MEDIA_MPG_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"

class CTypeRecoveryMPG : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryMPG, 1026)

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;
};

#endif
