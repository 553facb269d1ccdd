// Output files written in large pieces. Each open output file of a
// recognizer collects the bytes taken in a buffer of up to 1 MiB and writes
// it out in one call when it is full, before the file is closed, sized or
// discarded, and before progress is saved; a single large piece is written
// straight through. The buffers of a manager come from its pool, which
// keeps released ones for reuse and holds their total to a budget: a file
// opened when the budget is spent is written unbuffered.
//
// A write that fails loses nothing: the bytes that did not reach the disk
// stay in memory (the buffer grows past its size if it must) and the next
// flush tries them again, in order. The failure is noted in the pool, so
// the strip during which the library learned of it gets the error flag,
// even when the write happened in a close.
#ifndef TYPERECOVERY_FRAMEWORK_OUTPUTBUFFER_H
#define TYPERECOVERY_FRAMEWORK_OUTPUTBUFFER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "typerecovery.h"

namespace typerecovery {

class OutputBufferPool {
 public:
  static constexpr size_t kBufferSize = size_t{1} << 20;
  static constexpr size_t kBudget = size_t{32} << 20;

  OutputBufferPool() = default;
  ~OutputBufferPool();
  OutputBufferPool(const OutputBufferPool&) = delete;
  OutputBufferPool& operator=(const OutputBufferPool&) = delete;

  // A buffer of kBufferSize bytes, or null when the budget is spent.
  uint8_t* Acquire();
  void Release(uint8_t* buffer);

  void NoteWriteFailure() { m_writeFailed = true; }
  // True once after a write failed.
  bool TakeWriteFailure() {
    const bool failed = m_writeFailed;
    m_writeFailed = false;
    return failed;
  }

 private:
  std::vector<uint8_t*> m_free;
  size_t m_allocated = 0;  // bytes of all buffers, free or in use
  bool m_writeFailed = false;
};

class OutputBuffer {
 public:
  OutputBuffer() = default;
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // Takes count bytes for the file. False when a write failed.
  bool Write(TypeRecoveryFile file, OutputBufferPool* pool, const uint8_t* data, uint32_t count);
  // Writes what the buffer holds. False when a write failed (the rest stays).
  bool Flush(TypeRecoveryFile file);
  // Gives the buffer back to the pool, dropping what it still holds: call
  // after Flush when the file is closed, or to discard the file.
  void Release();
  uint32_t Pending() const { return m_used; }
  // Bytes that reached the file through this buffer since it was taken:
  // with the file's size when it was opened, its size now, without asking
  // the file system.
  uint64_t Written() const { return m_written; }

 private:
  // Writes straight to the file; keeps what did not reach it.
  bool WriteThrough(TypeRecoveryFile file, const uint8_t* data, uint32_t count);
  // After a failed write: holds these bytes behind the unwritten ones.
  bool Keep(const uint8_t* data, uint32_t count);

  OutputBufferPool* m_pool = nullptr;
  uint8_t* m_data = nullptr;
  uint32_t m_used = 0;
  uint32_t m_capacity = 0;
  uint64_t m_written = 0;
  bool m_pooled = false;      // m_data is one of the pool's buffers
  bool m_unbuffered = false;  // the pool had no buffer for this file
};

}  // namespace typerecovery

#endif
