// The write buffer of an output file and the manager's pool of them.
#include "framework/OutputBuffer.h"

#include <cstdlib>
#include <cstring>

#include "platform/FileSystem.h"

namespace typerecovery {

namespace {

// Writes as much as the file takes; answers the bytes written.
uint32_t WriteSome(TypeRecoveryFile file, const uint8_t* data, uint32_t count) {
  uint32_t written = 0;
  FileSystem& fs = CurrentFileSystem();
  while (written < count) {
    uint32_t done = 0;
    const bool ok = fs.Write(file, data + written, count - written, &done);
    written += done <= count - written ? done : count - written;
    if (!ok || done == 0) break;
  }
  return written;
}

}  // namespace

OutputBufferPool::~OutputBufferPool() {
  for (uint8_t* buffer : m_free) std::free(buffer);
}

uint8_t* OutputBufferPool::Acquire() {
  if (!m_free.empty()) {
    uint8_t* buffer = m_free.back();
    m_free.pop_back();
    return buffer;
  }
  if (m_allocated + kBufferSize > kBudget) return nullptr;
  uint8_t* buffer = static_cast<uint8_t*>(std::malloc(kBufferSize));
  if (buffer != nullptr) m_allocated += kBufferSize;
  return buffer;
}

void OutputBufferPool::Release(uint8_t* buffer) {
  if (buffer == nullptr) return;
  try {
    m_free.push_back(buffer);
  } catch (...) {
    std::free(buffer);
    m_allocated -= kBufferSize;
  }
}

OutputBuffer::~OutputBuffer() { Release(); }

bool OutputBuffer::Write(TypeRecoveryFile file, OutputBufferPool* pool, const uint8_t* data,
                         uint32_t count) {
  if (count == 0) return true;
  if (m_data == nullptr && !m_unbuffered) {
    m_pool = pool;
    m_data = pool != nullptr ? pool->Acquire() : nullptr;
    m_pooled = m_data != nullptr;
    m_capacity = m_pooled ? static_cast<uint32_t>(OutputBufferPool::kBufferSize) : 0;
    m_unbuffered = m_data == nullptr;
  }
  if (m_used + uint64_t{count} > m_capacity) {
    // Bytes behind unwritten ones must wait for them.
    if (!Flush(file)) return Keep(data, count);
    if (count >= m_capacity) return WriteThrough(file, data, count);
  }
  std::memcpy(m_data + m_used, data, count);
  m_used += count;
  return true;
}

bool OutputBuffer::WriteThrough(TypeRecoveryFile file, const uint8_t* data, uint32_t count) {
  const uint32_t written = WriteSome(file, data, count);
  m_written += written;
  return written == count || Keep(data + written, count - written);
}

bool OutputBuffer::Keep(const uint8_t* data, uint32_t count) {
  if (m_pool != nullptr) m_pool->NoteWriteFailure();
  if (m_used + uint64_t{count} > m_capacity) {
    const uint64_t wanted = uint64_t{m_used} + count;
    if (wanted > UINT32_MAX) return false;
    uint8_t* grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(wanted)));
    if (grown == nullptr) return false;  // no memory left either: these bytes are lost
    if (m_used != 0) std::memcpy(grown, m_data, m_used);
    if (m_pooled) {
      m_pool->Release(m_data);
    } else {
      std::free(m_data);
    }
    m_data = grown;
    m_capacity = static_cast<uint32_t>(wanted);
    m_pooled = false;
  }
  std::memcpy(m_data + m_used, data, count);
  m_used += count;
  return false;
}

bool OutputBuffer::Flush(TypeRecoveryFile file) {
  if (m_used == 0) return true;
  const uint32_t written = WriteSome(file, m_data, m_used);
  m_written += written;
  // What reached the disk leaves the buffer; the rest moves to its front.
  if (written != 0 && written < m_used) std::memmove(m_data, m_data + written, m_used - written);
  m_used -= written;
  if (m_used == 0) return true;
  if (m_pool != nullptr) m_pool->NoteWriteFailure();
  return false;
}

void OutputBuffer::Release() {
  if (m_pooled) {
    m_pool->Release(m_data);
  } else {
    std::free(m_data);
  }
  m_data = nullptr;
  m_used = 0;
  m_capacity = 0;
  m_written = 0;
  m_pooled = false;
  m_pool = nullptr;
  m_unbuffered = false;
}

}  // namespace typerecovery
