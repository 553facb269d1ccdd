#include "SourceReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "EvidenceSource.h"
#include "Platform.h"

namespace trcli {

namespace {
constexpr size_t kTailPadding = 16;
// Read errors are narrowed down to sectors, whatever the strip size: a disk
// fails a whole request for one bad sector, and only that sector is lost.
constexpr uint64_t kSector = 512;
constexpr uint64_t kPrefetchAhead = 4096;

size_t ToSectorEnd(uint64_t position, size_t most) {
  return static_cast<size_t>(std::min<uint64_t>(most, kSector - position % kSector));
}
}  // namespace

SourceReader::~SourceReader() {
  m_prefetch.reset();
  DropView();
  if (m_owns && m_fd >= 0) platform::Close(m_fd);
}

bool SourceReader::Open(const std::string& path, uint64_t offset, std::optional<uint64_t> length,
                        std::string* error) {
  if (path == "-") return OpenFd(platform::StandardInput(), false, offset, length, error);
  int fd = platform::OpenForReading(path);
  if (fd < 0) {
    *error = "cannot open source " + path + ": " + std::strerror(errno);
    return false;
  }
  platform::SourceKind kind;
  uint64_t size = 0;
  if (platform::Examine(fd, &kind, &size) && kind == platform::SourceKind::kDirectory) {
    platform::Close(fd);
    *error = "source " + path + " is a directory";
    return false;
  }
  return OpenFd(fd, true, offset, length, error);
}

bool SourceReader::OpenFd(int fd, bool owns, uint64_t offset, std::optional<uint64_t> length,
                          std::string* error) {
  m_fd = fd;
  m_owns = owns;
  platform::SourceKind kind;
  uint64_t size = 0;
  if (!platform::Examine(fd, &kind, &size)) {
    *error = std::string("cannot examine source: ") + std::strerror(errno);
    return false;
  }
  m_seekable = kind == platform::SourceKind::kRegularFile || kind == platform::SourceKind::kDevice;
  m_viewable = kind == platform::SourceKind::kRegularFile;
  if (m_seekable) m_sourceSize = size;
  m_start = offset;
  if (m_seekable && m_sourceSize > 0) {
    if (offset > m_sourceSize) {
      *error = "--offset lies beyond the end of the source (" + std::to_string(m_sourceSize) + " bytes)";
      return false;
    }
    m_end = m_sourceSize;
  }
  if (length) {
    uint64_t end = offset + *length;
    if (end < offset) end = UINT64_MAX;
    m_end = m_end ? std::min(*m_end, end) : end;
  }
  if (m_seekable) {
    if (!platform::SeekTo(fd, offset)) {
      *error = std::string("cannot seek in source: ") + std::strerror(errno);
      return false;
    }
    m_readPosition = offset;
  } else {
    // A stream: read and drop everything before the range.
    m_readPosition = 0;
    std::vector<uint8_t> scratch(1u << 16);
    while (m_readPosition < offset) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(scratch.size(), offset - m_readPosition));
      long long got = ReadSome(scratch.data(), want, error);
      if (got < 0) return false;
      if (got == 0) {
        *error = "--offset lies beyond the end of the stream";
        return false;
      }
    }
  }
  m_windowStart = m_cursor = offset;
  m_filled = 0;
  m_eof = false;
  return true;
}

bool SourceReader::OpenMedium(std::unique_ptr<Medium> medium, uint64_t offset, std::optional<uint64_t> length,
                              std::string* error) {
  m_medium = std::move(medium);
  m_seekable = true;
  m_sourceSize = m_medium->Size();
  if (offset > m_sourceSize) {
    *error = "--offset lies beyond the end of the source (" + std::to_string(m_sourceSize) + " bytes)";
    return false;
  }
  m_end = length ? std::min(m_sourceSize, offset + std::min(*length, m_sourceSize - offset)) : m_sourceSize;
  m_start = m_readPosition = m_windowStart = m_cursor = offset;
  m_filled = 0;
  m_eof = false;
  return true;
}

bool SourceReader::ReadAt(uint64_t position, uint8_t* into, size_t size, bool* zeroFilled) {
  if (!m_seekable) return false;
  auto lost = [&](uint64_t at, size_t gap, uint8_t* to) {
    std::memset(to, 0, gap);
    NoteUnreadable(at, gap);
    if (zeroFilled != nullptr) *zeroFilled = true;
  };
  if (m_medium) {
    std::string ignored;
    if (position > m_sourceSize || size > m_sourceSize - position) return false;
    if (m_medium->ReadAt(position, into, size, &ignored)) return true;
    if (!m_medium->ZeroUnreadable()) return false;
    for (size_t done = 0; done < size;) {
      size_t piece = ToSectorEnd(position + done, size - done);
      if (!m_medium->ReadAt(position + done, into + done, piece, &ignored)) lost(position + done, piece, into + done);
      done += piece;
    }
    return true;
  }
  // As the scan reads: after a failed read, sector by sector, and the
  // sectors that cannot be read are zeros.
  bool careful = false;
  for (size_t done = 0; done < size;) {
    size_t want = careful ? ToSectorEnd(position + done, size - done) : size - done;
    long long got = platform::ReadAt(m_fd, into + done, want, position + done);
    if (got > 0) {
      done += static_cast<size_t>(got);
    } else if (got == 0) {
      return false;
    } else if (errno != EINTR) {
      if (careful) {
        lost(position + done, want, into + done);
        done += want;
      }
      careful = true;
    }
  }
  return true;
}

void SourceReader::NoteUnreadable(uint64_t position, uint64_t length) {
  if (length == 0) return;
  // Kept sorted and joined: reads mostly go forward, so the new region
  // usually lands at the end.
  auto at = std::upper_bound(m_unreadable.begin(), m_unreadable.end(), position,
                             [](uint64_t p, const MediaRun& run) { return p < run.offset; });
  at = m_unreadable.insert(at, MediaRun{position, length});
  if (at != m_unreadable.begin()) --at;
  while (at + 1 != m_unreadable.end() && (at + 1)->offset <= at->offset + at->length) {
    at->length = std::max(at->offset + at->length, (at + 1)->offset + (at + 1)->length) - at->offset;
    m_unreadable.erase(at + 1);
  }
}

uint64_t SourceReader::UnreadableBytes() const {
  uint64_t total = 0;
  for (const MediaRun& run : m_unreadable) total += run.length;
  return total;
}

bool SourceReader::TouchesUnreadable(uint64_t position, uint64_t length) const {
  for (const MediaRun& run : m_unreadable)
    if (run.offset < position + length && position < run.offset + run.length) return true;
  return false;
}

bool SourceReader::ReadFromMedium(uint8_t* into, size_t size, std::string* error) {
  if (m_medium->ReadAt(m_readPosition, into, size, error)) return true;
  if (!m_medium->ZeroUnreadable()) return false;
  error->clear();
  // Find the unreadable blocks one by one.
  std::string ignored;
  size_t total = 0;
  while (total < size) {
    size_t piece = ToSectorEnd(m_readPosition + total, size - total);
    if (!m_medium->ReadAt(m_readPosition + total, into + total, piece, &ignored)) {
      std::memset(into + total, 0, piece);
      NoteUnreadable(m_readPosition + total, piece);
    }
    total += piece;
  }
  return true;
}

void SourceReader::SetGeometry(uint32_t block, uint32_t chunk, uint32_t lookahead) {
  m_block = block;
  m_chunk = std::max(chunk, block);
  m_lookahead = lookahead;
}

void SourceReader::NotePrefix(uint64_t position, const uint8_t* data, size_t size) {
  uint64_t wantedAt = m_start + m_prefix.size();
  if (m_prefix.size() >= kPrefixBytes || position > wantedAt || position + size <= wantedAt) return;
  size_t skip = static_cast<size_t>(wantedAt - position);
  size_t take = std::min(size - skip, static_cast<size_t>(kPrefixBytes) - m_prefix.size());
  m_prefix.insert(m_prefix.end(), data + skip, data + skip + take);
}

long long SourceReader::ReadSome(uint8_t* into, size_t size, std::string* error) {
  if (m_end && m_readPosition >= *m_end) return 0;
  if (m_end) size = static_cast<size_t>(std::min<uint64_t>(size, *m_end - m_readPosition));
  size_t total = 0;
  if (m_medium) {
    if (!ReadFromMedium(into, size, error)) return -1;
    total = size;
  }
  if (!m_seekable && !m_medium && platform::CanWaitForInput(m_fd)) {
    if (!m_prefetch) {
      std::optional<uint64_t> limit;
      if (m_end) limit = *m_end - m_readPosition;
      m_prefetch = std::make_unique<StreamPrefetch>(m_fd, std::max<size_t>(m_chunk, 1u << 20), limit, m_stopFlag);
    }
    while (total < size) {
      size_t taken = 0;
      int failure = 0;
      const StreamPrefetch::Outcome outcome = m_prefetch->Take(
          into + total, size - total, &taken, [this] { if (m_beforeWait) m_beforeWait(m_cursor); }, &failure);
      if (outcome == StreamPrefetch::Outcome::kData) {
        total += taken;
      } else if (outcome == StreamPrefetch::Outcome::kStopped) {
        m_interrupted = true;
        break;
      } else if (outcome == StreamPrefetch::Outcome::kError) {
        *error = std::string("read error on the source stream: ") + std::strerror(failure);
        return -1;
      } else {
        break;
      }
    }
  }
  bool careful = false;  // after a read error: sector by sector
  while (!m_prefetch && total < size) {
    const size_t want = careful ? ToSectorEnd(m_readPosition + total, size - total) : size - total;
    if (!m_seekable && !platform::InputReady(m_fd)) {
      if (m_beforeWait) m_beforeWait(m_cursor);
      // Wait for input in short steps, looking at the stop flag between
      // them: a stop that came just before a blocking read would otherwise
      // wait for input that may never come.
      while (!platform::InputReady(m_fd, 100) && (m_stopFlag == nullptr || *m_stopFlag == 0)) {
      }
    }
    if (!m_seekable && m_stopFlag != nullptr && *m_stopFlag != 0) {
      m_interrupted = true;
      break;
    }
    long long got = platform::Read(m_fd, into + total, want);
    if (got > 0) {
      total += static_cast<size_t>(got);
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) {
      if (m_stopFlag != nullptr && *m_stopFlag != 0) {
        m_interrupted = true;
        break;
      }
      continue;
    }
    if (!m_seekable) {
      *error = std::string("read error on the source stream: ") + std::strerror(errno);
      return -1;
    }
    // An unreadable region of a disk: find the sector, zeros for it, then
    // go on.
    if (!careful) {
      careful = true;
      continue;
    }
    const size_t gap = want;
    std::memset(into + total, 0, gap);
    NoteUnreadable(m_readPosition + total, gap);
    total += gap;
    if (!platform::SeekTo(m_fd, m_readPosition + total)) {
      *error = std::string("cannot seek past a read error: ") + std::strerror(errno);
      return -1;
    }
  }
  NotePrefix(m_readPosition, into, total);
  m_readPosition += total;
  return static_cast<long long>(total);
}

bool SourceReader::Refill(std::string* error) {
  size_t need = static_cast<size_t>(m_block) + m_lookahead;
  size_t capacity = std::max<size_t>(m_chunk, need) + need;
  if (m_buffer.size() != capacity + kTailPadding) m_buffer.assign(capacity + kTailPadding, 0);
  // Keep the bytes from the next strip on; they move to the buffer's start.
  size_t keep = 0;
  if (m_cursor >= m_windowStart && m_cursor < m_windowStart + m_filled) {
    size_t from = static_cast<size_t>(m_cursor - m_windowStart);
    keep = m_filled - from;
    std::memmove(m_buffer.data(), m_buffer.data() + from, keep);
  }
  m_windowStart = m_cursor;
  m_filled = keep;
  while (!m_eof && m_filled < capacity) {
    long long got = ReadSome(m_buffer.data() + m_filled, capacity - m_filled, error);
    if (got < 0) return false;
    m_filled += static_cast<size_t>(got);
    // Hand out no strip whose lookahead the interruption cut short.
    if (m_interrupted) return false;
    if (got == 0) m_eof = true;
  }
  std::memset(m_buffer.data() + m_filled, 0, kTailPadding);
  return true;
}

void SourceReader::DropView() {
  platform::Unmap(m_view, m_viewSize);
  m_view = nullptr;
  m_viewSize = 0;
}

bool SourceReader::ViewChunk(size_t need) {
  DropView();
  if (m_viewable && m_end && m_cursor + need <= *m_end) {
    const uint64_t from = m_cursor - m_cursor % platform::MapGranularity();
    const uint64_t to = std::min<uint64_t>(*m_end, m_cursor + std::max<size_t>(m_chunk, need) + need);
    m_view = platform::MapIfResident(m_fd, from, static_cast<size_t>(to - from));
    if (m_view != nullptr) {
      m_viewStart = from;
      m_viewSize = static_cast<size_t>(to - from);
      NotePrefix(m_cursor, m_view + (m_cursor - from), static_cast<size_t>(to - m_cursor));
      m_windowStart = m_cursor;  // the buffer holds nothing of it
      m_filled = 0;
      m_readBehind = true;
      return true;
    }
  }
  if (m_readBehind) {
    // The reads go on where the views stopped.
    m_readBehind = false;
    m_windowStart = m_readPosition = m_cursor;
    m_filled = 0;
    m_eof = false;
    if (!platform::SeekTo(m_fd, m_cursor)) m_viewable = false;
  }
  return false;
}

bool SourceReader::Next(Strip* strip, std::string* error) {
  if (m_end && m_cursor >= *m_end) return false;
  size_t need = static_cast<size_t>(m_block) + m_lookahead;
  uint64_t windowEnd = m_windowStart + m_filled;
  const bool buffered = m_cursor >= m_windowStart && (m_eof ? m_cursor < windowEnd : m_cursor + need <= windowEnd);
  if (m_view != nullptr || (m_viewable && !buffered)) {
    const bool inView = m_view != nullptr && m_cursor >= m_viewStart && m_cursor + need <= m_viewStart + m_viewSize;
    if (inView || ViewChunk(need)) {
      strip->position = m_cursor;
      strip->data = m_view + (m_cursor - m_viewStart);
#if defined(__GNUC__)
      // The header pass reads the first two cache lines of every strip: ask
      // for those of a strip a page ahead, so they come while this one is
      // scanned (the view holds them: need is more than a page past it).
      if (m_cursor + kPrefetchAhead + 128 <= m_viewStart + m_viewSize) {
        __builtin_prefetch(strip->data + kPrefetchAhead);
        __builtin_prefetch(strip->data + kPrefetchAhead + 64);
      }
#endif
      strip->length = m_block;
      strip->lookahead = m_lookahead;
      m_cursor += m_block;
      return true;
    }
    windowEnd = m_windowStart + m_filled;
  }
  if (!m_eof && (m_cursor < m_windowStart || windowEnd < m_cursor + need)) {
    if (!Refill(error)) return false;
    windowEnd = m_windowStart + m_filled;
  }
  if (m_cursor >= windowEnd) return false;
  size_t have = static_cast<size_t>(windowEnd - m_cursor);
  size_t from = static_cast<size_t>(m_cursor - m_windowStart);
  strip->position = m_cursor;
  strip->data = m_buffer.data() + from;
  strip->length = static_cast<uint32_t>(std::min<size_t>(m_block, have));
  strip->lookahead = static_cast<uint32_t>(std::min<size_t>(m_lookahead, have - strip->length));
  // The library may read 16 bytes of any strip: past the data the buffer
  // always holds kTailPadding zeros.
  m_cursor += strip->length;
  return true;
}

bool SourceReader::SkipTo(uint64_t position, std::string* error) {
  if (position < m_cursor) {
    *error = "cannot move back in the source";
    return false;
  }
  if (m_seekable) {
    // Keep the identifying first bytes even though they are not scanned again.
    if (m_prefix.size() < kPrefixBytes) {
      std::vector<uint8_t> head(kPrefixBytes);
      uint64_t limit = m_end ? std::min<uint64_t>(kPrefixBytes, *m_end - m_start) : kPrefixBytes;
      long long got = ReadAt(m_start, head.data(), static_cast<size_t>(limit)) ? static_cast<long long>(limit) : 0;
      m_prefix.assign(head.begin(), head.begin() + got);
    }
    if (!m_medium && !platform::SeekTo(m_fd, position)) {
      *error = std::string("cannot seek in source: ") + std::strerror(errno);
      return false;
    }
    m_readPosition = position;
  } else {
    std::vector<uint8_t> scratch(1u << 16);
    // Bytes already buffered count as read.
    uint64_t buffered = m_windowStart + m_filled;
    if (m_readPosition < buffered) m_readPosition = buffered;
    while (m_readPosition < position) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(scratch.size(), position - m_readPosition));
      long long got = ReadSome(scratch.data(), want, error);
      if (got < 0) return false;
      if (got == 0) {
        *error = "the stream ends before the saved position";
        return false;
      }
    }
  }
  DropView();
  m_readBehind = false;
  m_cursor = m_windowStart = position;
  m_filled = 0;
  m_eof = false;
  return true;
}

}  // namespace trcli
