// The reading thread of a stream source and the hand-over of its bytes.
#include "StreamPrefetch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "Platform.h"

namespace trcli {

namespace {
constexpr int kWaitStepMs = 100;
}

StreamPrefetch::StreamPrefetch(int fd, size_t capacity, std::optional<uint64_t> limit, const volatile int* stopFlag)
    : m_fd(fd), m_stopFlag(stopFlag), m_limit(limit), m_ring(std::max<size_t>(capacity, 1)) {
  m_thread = std::thread([this] { Read(); });
}

StreamPrefetch::~StreamPrefetch() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void StreamPrefetch::Read() {
  for (;;) {
    size_t tail = 0, room = 0;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait(lock, [this] { return m_quit || m_held < m_ring.size(); });
      if (m_quit) return;
      if (m_limit && *m_limit == 0) {
        m_end = true;
        m_changed.notify_all();
        return;
      }
      tail = (m_head + m_held) % m_ring.size();
      room = std::min(m_ring.size() - m_held, m_ring.size() - tail);
      if (m_limit) room = static_cast<size_t>(std::min<uint64_t>(room, *m_limit));
    }
    // Wait for input without blocking: a read is made only when it will
    // not wait, so that the thread can always be told to end.
    while (!platform::InputReady(m_fd, kWaitStepMs)) {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_quit) return;
    }
    const long long got = platform::Read(m_fd, m_ring.data() + tail, room);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (got > 0) {
      m_held += static_cast<size_t>(got);
      if (m_limit) *m_limit -= static_cast<uint64_t>(got);
    } else if (got == 0) {
      m_end = true;
    } else if (errno != EINTR) {
      m_error = errno;
    }
    m_changed.notify_all();
    if (got == 0 || m_error != 0) return;
  }
}

StreamPrefetch::Outcome StreamPrefetch::Take(uint8_t* into, size_t size, size_t* taken,
                                             const std::function<void()>& beforeWait, int* error) {
  *taken = 0;
  std::unique_lock<std::mutex> lock(m_mutex);
  bool told = false;
  for (;;) {
    if (Stopped()) return Outcome::kStopped;
    if (m_held != 0 || m_end || m_error != 0) break;
    if (!told) {
      // Nothing read, and nothing waiting in the stream either: the host
      // saves its state before the wait, as a process killed while it waits
      // must resume from here.
      told = true;
      if (beforeWait && !platform::InputReady(m_fd)) {
        lock.unlock();
        beforeWait();
        lock.lock();
      }
      continue;
    }
    m_changed.wait_for(lock, std::chrono::milliseconds(kWaitStepMs));
  }
  if (m_held == 0) {
    if (m_error == 0) return Outcome::kEnd;
    *error = m_error;
    return Outcome::kError;
  }
  const size_t first = std::min({size, m_held, m_ring.size() - m_head});
  std::memcpy(into, m_ring.data() + m_head, first);
  const size_t second = std::min(size - first, m_held - first);
  if (second != 0) std::memcpy(into + first, m_ring.data(), second);
  *taken = first + second;
  m_head = (m_head + *taken) % m_ring.size();
  m_held -= *taken;
  m_changed.notify_all();
  return Outcome::kData;
}

}  // namespace trcli
