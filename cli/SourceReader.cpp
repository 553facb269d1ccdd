#include "SourceReader.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "EvidenceSource.h"

namespace trcli {

namespace {
constexpr size_t kTailPadding = 16;
}

SourceReader::~SourceReader() {
  if (m_owns && m_fd >= 0) ::close(m_fd);
}

bool SourceReader::Open(const std::string& path, uint64_t offset, std::optional<uint64_t> length,
                        std::string* error) {
  if (path == "-") return OpenFd(STDIN_FILENO, false, offset, length, error);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open source " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    *error = "source " + path + " is a directory";
    return false;
  }
  return OpenFd(fd, true, offset, length, error);
}

bool SourceReader::OpenFd(int fd, bool owns, uint64_t offset, std::optional<uint64_t> length,
                          std::string* error) {
  m_fd = fd;
  m_owns = owns;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    *error = std::string("cannot examine source: ") + std::strerror(errno);
    return false;
  }
  if (S_ISREG(info.st_mode)) {
    m_seekable = true;
    m_sourceSize = static_cast<uint64_t>(info.st_size);
  } else if (S_ISBLK(info.st_mode)) {
    m_seekable = true;
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) m_sourceSize = bytes;
  } else {
    m_seekable = false;
  }
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
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
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

bool SourceReader::ReadAt(uint64_t position, uint8_t* into, size_t size) const {
  if (m_medium) {
    std::string ignored;
    return position <= m_sourceSize && size <= m_sourceSize - position &&
           m_medium->ReadAt(position, into, size, &ignored);
  }
  while (size > 0) {
    ssize_t got = ::pread(m_fd, into, size, static_cast<off_t>(position));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    position += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool SourceReader::ReadFromMedium(uint8_t* into, size_t size, std::string* error) {
  if (m_medium->ReadAt(m_readPosition, into, size, error)) return true;
  if (!m_medium->ZeroUnreadable()) return false;
  error->clear();
  // Find the unreadable blocks one by one.
  std::string ignored;
  size_t total = 0;
  while (total < size) {
    size_t piece = std::min<size_t>(size - total, m_block - ((m_readPosition + total) % m_block));
    if (!m_medium->ReadAt(m_readPosition + total, into + total, piece, &ignored)) {
      std::memset(into + total, 0, piece);
      ++m_unreadable;
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
  while (total < size) {
    ssize_t got = ::read(m_fd, into + total, size - total);
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
    // An unreadable region of a disk: one block of zeros, then go on.
    size_t gap = std::min<size_t>(size - total, m_block - ((m_readPosition + total) % m_block));
    std::memset(into + total, 0, gap);
    total += gap;
    ++m_unreadable;
    if (::lseek(m_fd, static_cast<off_t>(m_readPosition + total), SEEK_SET) < 0) {
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

bool SourceReader::Next(Strip* strip, std::string* error) {
  if (m_end && m_cursor >= *m_end) return false;
  size_t need = static_cast<size_t>(m_block) + m_lookahead;
  uint64_t windowEnd = m_windowStart + m_filled;
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
      ssize_t got = ReadAt(m_start, head.data(), static_cast<size_t>(limit)) ? static_cast<ssize_t>(limit) : 0;
      m_prefix.assign(head.begin(), head.begin() + std::max<ssize_t>(got, 0));
    }
    if (!m_medium && ::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0) {
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
  m_cursor = m_windowStart = position;
  m_filled = 0;
  m_eof = false;
  return true;
}

}  // namespace trcli
