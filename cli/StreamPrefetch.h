// Reads a stream (a pipe, standard input) on a thread of its own, ahead of
// the analysis: while the library analyses what was read, the next bytes
// are read. The stream is still read once, in order; only the waiting
// overlaps. The reading thread never blocks for long: it waits for input in
// short steps, so that it can be told to end at any time.
#ifndef TYPERECOVERY_CLI_STREAMPREFETCH_H
#define TYPERECOVERY_CLI_STREAMPREFETCH_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace trcli {

class StreamPrefetch {
 public:
  enum class Outcome { kData, kEnd, kStopped, kError };

  // Reads fd into a ring of capacity bytes, at most limit bytes in all. A
  // non-zero *stopFlag (set by a signal handler) makes Take give up.
  StreamPrefetch(int fd, size_t capacity, std::optional<uint64_t> limit, const volatile int* stopFlag);
  ~StreamPrefetch();
  StreamPrefetch(const StreamPrefetch&) = delete;
  StreamPrefetch& operator=(const StreamPrefetch&) = delete;

  // Copies up to size bytes read so far into into (*taken of them). When
  // none are there yet, calls beforeWait once, then waits. kEnd at the end
  // of the stream, kError with the system's error number in *error.
  Outcome Take(uint8_t* into, size_t size, size_t* taken, const std::function<void()>& beforeWait, int* error);

 private:
  void Read();
  bool Stopped() const { return m_stopFlag != nullptr && *m_stopFlag != 0; }

  const int m_fd;
  const volatile int* const m_stopFlag;
  std::optional<uint64_t> m_limit;  // bytes still to read, when bounded
  std::vector<uint8_t> m_ring;
  // Guarded by m_mutex. The reading thread writes only the free part of the
  // ring and Take reads only the held part, so the bytes need no lock.
  std::mutex m_mutex;
  std::condition_variable m_changed;
  size_t m_head = 0;   // first held byte
  size_t m_held = 0;   // bytes read and not yet taken
  bool m_end = false;  // the stream ended (or the limit was reached)
  int m_error = 0;     // a read failed with this error
  bool m_quit = false; // the reader is going away
  std::thread m_thread;
};

}  // namespace trcli

#endif
