// The runs of the media that a scan reads as one continuous stream, and the
// way back from a stream range to the media.
//
// A free-space scan hands the library the free blocks of a file system one
// after another, so the library's offsets are offsets in that stream. The
// map keeps the runs (media offset and length, in stream order; touching
// runs are joined) and turns a stream range into the media pieces that hold
// it, in order, so a found file can be reported, hashed and carved as
// exactly the bytes it was found in.
#ifndef TYPERECOVERY_CLI_MEDIAMAP_H
#define TYPERECOVERY_CLI_MEDIAMAP_H

#include <cstdint>
#include <vector>

namespace trcli {

struct MediaRun {
  uint64_t offset = 0;  // in the media
  uint64_t length = 0;
  bool operator==(const MediaRun& other) const { return offset == other.offset && length == other.length; }
};

class MediaMap {
 public:
  // Appends a run at the end of the stream; empty runs are ignored and a run
  // that starts where the previous one ends extends it.
  void Add(uint64_t offset, uint64_t length);

  const std::vector<MediaRun>& Runs() const { return m_runs; }
  uint64_t StreamSize() const { return m_size; }

  // The media pieces of stream bytes [streamOffset, streamOffset + size),
  // cut at the end of the stream.
  std::vector<MediaRun> Pieces(uint64_t streamOffset, uint64_t size) const;

 private:
  std::vector<MediaRun> m_runs;
  std::vector<uint64_t> m_starts;  // stream offset of each run
  uint64_t m_size = 0;
};

}  // namespace trcli

#endif
