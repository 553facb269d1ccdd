// Reads a source (image file, block device, a stream on standard input, or
// a Medium such as an evidence image or a file system's free space) and
// cuts it into strips for the library.
//
// Data is read in large chunks into one buffer that is reused for the whole
// source, so memory stays bounded whatever the source size. Every strip is
// followed in the buffer by up to `lookahead` further bytes of the source
// (fewer only at the end of the source or of the scanned range), and the
// buffer always holds at least 16 readable bytes from the strip's start, zero
// past the data, as the library requires. Strip positions are absolute
// positions in the source.
//
// A regular file whose next chunk is wholly in memory already is not read
// but viewed in place (see platform::MapIfResident): the strips are then the
// file's own bytes, without a copy. Strips whose lookahead would reach the
// end of the range always come from the buffer, which pads them.
//
// A stream is read ahead on a second thread (see StreamPrefetch), so that
// reading overlaps the analysis.
//
// A read error on a seekable source does not stop the scan: the unreadable
// block reads as zeros, in every pass over it (strips, reads for digests and
// for a resume), and its region is kept in a list. On a stream it is fatal.
#ifndef TYPERECOVERY_CLI_SOURCEREADER_H
#define TYPERECOVERY_CLI_SOURCEREADER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EvidenceSource.h"
#include "MediaMap.h"
#include "StreamPrefetch.h"

namespace trcli {

struct Strip {
  uint64_t position = 0;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  uint32_t lookahead = 0;
};

class SourceReader {
 public:
  static constexpr uint32_t kDefaultChunk = 4u << 20;
  static constexpr uint32_t kDefaultLookahead = 64u << 10;
  static constexpr uint32_t kPrefixBytes = 64u << 10;

  SourceReader() = default;
  ~SourceReader();
  SourceReader(const SourceReader&) = delete;
  SourceReader& operator=(const SourceReader&) = delete;

  // path "-" is standard input. offset and length select the scanned range.
  bool Open(const std::string& path, uint64_t offset, std::optional<uint64_t> length,
            std::string* error);
  // Same over a descriptor the caller opened; takes ownership when owns.
  bool OpenFd(int fd, bool owns, uint64_t offset, std::optional<uint64_t> length,
              std::string* error);
  // Same over a medium read through a library (an evidence image, free
  // space): always seekable; positions are positions in the medium.
  bool OpenMedium(std::unique_ptr<Medium> medium, uint64_t offset, std::optional<uint64_t> length,
                  std::string* error);
  void SetGeometry(uint32_t block, uint32_t chunk, uint32_t lookahead);
  // A flag that a signal handler sets: a read that the signal interrupts
  // then gives up, and Next answers false without a strip (Interrupted()).
  void SetStopFlag(const volatile int* flag) { m_stopFlag = flag; }
  bool Interrupted() const { return m_interrupted; }
  // Called with the next strip's position (every strip before it has been
  // handed out) just before a read of a stream that would wait for input:
  // the host saves its state there, so that a process killed while it waits
  // can be resumed.
  void SetBeforeWait(std::function<void(uint64_t position)> hook) { m_beforeWait = std::move(hook); }

  // The next strip, valid until the next call; false at the end of the range
  // or on a fatal error (then *error is set).
  bool Next(Strip* strip, std::string* error);
  // Moves the next strip's position forward to an absolute position (resume).
  bool SkipTo(uint64_t position, std::string* error);

  // Reads bytes of a seekable source anywhere (hashing found files, a
  // resume). Unreadable blocks of a disk read as zeros, as in the scan, and
  // join the list (*zeroFilled set when any did); false past the end, on a
  // stream or on a damaged evidence image.
  bool ReadAt(uint64_t position, uint8_t* into, size_t size, bool* zeroFilled = nullptr);

  bool Seekable() const { return m_seekable; }
  int Fd() const { return m_fd; }
  uint64_t Start() const { return m_start; }
  // End of the scanned range when known (file or device size, or --length).
  std::optional<uint64_t> End() const { return m_end; }
  uint64_t SourceSize() const { return m_sourceSize; }  // 0 when unknown
  uint64_t NextPosition() const { return m_cursor; }
  // The regions read as zeros so far, in source order, touching ones joined.
  const std::vector<MediaRun>& Unreadable() const { return m_unreadable; }
  uint64_t UnreadableBytes() const;
  // Adds regions known from an earlier session of the run.
  void NoteUnreadable(uint64_t position, uint64_t length);
  // True when any byte of position..position+length was read as zeros.
  bool TouchesUnreadable(uint64_t position, uint64_t length) const;
  // The first bytes of the range (up to kPrefixBytes, as far as read so far):
  // they identify the source when a run is resumed.
  const std::vector<uint8_t>& Prefix() const { return m_prefix; }

 private:
  bool Refill(std::string* error);
  // Reads up to size bytes at the stream position; -1 on a fatal error.
  long long ReadSome(uint8_t* into, size_t size, std::string* error);
  // Reads size bytes from the medium at the stream position; unreadable
  // blocks of a disk read as zeros and are counted, those of a damaged
  // image are fatal.
  bool ReadFromMedium(uint8_t* into, size_t size, std::string* error);
  void NotePrefix(uint64_t position, const uint8_t* data, size_t size);
  // Views the chunk from the cursor on, when the file allows it and it is in
  // memory; false (and reading goes on from the cursor) otherwise.
  bool ViewChunk(size_t need);
  void DropView();

  int m_fd = -1;
  std::unique_ptr<Medium> m_medium;
  bool m_owns = false;
  bool m_seekable = false;
  uint64_t m_sourceSize = 0;
  uint64_t m_start = 0;
  std::optional<uint64_t> m_end;
  uint32_t m_block = 512;
  uint32_t m_chunk = kDefaultChunk;
  uint32_t m_lookahead = kDefaultLookahead;

  std::vector<uint8_t> m_buffer;
  uint64_t m_windowStart = 0;  // source position of m_buffer[0]
  size_t m_filled = 0;         // valid bytes in m_buffer
  uint64_t m_readPosition = 0; // source position of the next byte to read
  bool m_eof = false;
  uint64_t m_cursor = 0;       // position of the next strip
  std::vector<MediaRun> m_unreadable;
  std::function<void(uint64_t)> m_beforeWait;
  std::vector<uint8_t> m_prefix;
  bool m_viewable = false;        // a regular file: chunks may be viewed
  const uint8_t* m_view = nullptr;
  size_t m_viewSize = 0;
  uint64_t m_viewStart = 0;       // source position of m_view[0]
  bool m_readBehind = false;      // views were served: reading resumes at the cursor
  const volatile int* m_stopFlag = nullptr;
  bool m_interrupted = false;
  // A stream is read on a thread of its own, ahead of the analysis.
  std::unique_ptr<StreamPrefetch> m_prefetch;
};

}  // namespace trcli

#endif
