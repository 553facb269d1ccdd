// Many cores, one result.
//
// Why the joined results are those of one core
// ---------------------------------------------
// The library's analysis is a function of the manager's state and the strip
// (with its lookahead): the same state and the same strips give the same
// reports, the same output files and the same next state. Its state is the
// list of active recognizers (what the progress record holds) plus the file
// numbers each class gives next. A manager with no active recognizer ("at
// rest", TypeRecovery_IsAtRest) is therefore, apart from numbering, in the
// state of a new manager.
//
// The range is cut into segments at strip boundaries; segment k's manager
// starts new, at rest, at the segment's first strip b_k. Segment 0's manager
// starts where a one-core run starts, so it is the one-core manager. Let j
// be a manager known to be the one-core manager (the "authority") up to
// strip end p. If at p both j and the manager m of the segment holding p are
// at rest, then m's state at p is the one-core state too (both are that of a
// new manager), and from p on m's results are the one-core results. So j
// runs past its segment's end, strip by strip, until it is at rest at a
// strip end p where m is at rest as well (m is at rest at its own first
// strip, so a j at rest on the boundary hands over at once). If that does
// not happen in m's segment, j simply goes on and asks the next segment's
// manager; it is never wrong, only slower. Results of m before p come from a
// state that was not the one-core state and are thrown away.
//
// The joined results are then: authority 0's results up to its hand-over
// point, then its successor's from there, and so on, each strip's results in
// the order the manager told them. The host gets them in that order with the
// strip ends at which a one-core run would have emitted records, and the
// oldest file still followed after each, so that it queues and emits exactly
// as on one core.
//
// File numbers: each class numbers its files from a counter that the next
// file takes (a discarded file gives its number back). A segment's manager
// counts from the run's start values; after the hand-over point its class-X
// files carry numbers that run on from the first class-X number it gave
// there, where the one-core run goes on from the number after the last
// class-X file joined so far (or from the start value, which is the number
// of the manager's very first class-X file). The difference is added to
// every class-X number of that segment. Segments write below their own
// folders, where no name is taken, and a joined file is renamed into the
// output folder under its one-core name. A fresh output folder is assumed:
// a carve that adds to an older folder runs on one core.
//
// Many machines: what a segment's manager tells, where it stops and to whom
// it hands over depend only on the bytes, because the managers it asks
// start new at their own first strips. So each segment's log can be made in
// a process of its own (RunOneSegment), which runs the managers of the later
// segments it asks ("probes") itself, each from its segment's first strip
// and only as far as asked; JoinSegmentLogs then follows the same chain of
// authorities over the saved logs, with the same join.
#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "Text.h"

namespace trcli {
namespace {

using Event = SegmentEvent;
using Entry = SegmentEntry;

struct Segment : SegmentLog {
  // Shared: the flags and rest changes under Engine::m_mutex.
  bool started = false, done = false;
  std::atomic<bool> cancelled{false};
  std::atomic<uint64_t> progress{0};                    // strips analysed up to here
  std::vector<std::pair<uint64_t, bool>> restChanges;   // strip end, at rest from there
  // A manager run only to tell whether it is at rest where another asks
  // (RunOneSegment): it analyses up to `wanted`, keeps no log, never hands over.
  bool probe = false;
  uint64_t wanted = 0;
  // Written by the segment's worker, read once done.
  bool failed = false, outputFailed = false, interrupted = false;
  bool unreadable = false;  // its reader met a block it could not read
  std::string error;
};

struct Sink {
  std::vector<Event> events;
};

uint32_t TRWorkerFound(uintptr_t user, uint32_t folder, uint32_t*, const char16_t* extension, uint64_t fileStart,
                       uint64_t size, uint32_t complete, const tag_PictureInfo* picture) {
  Event event;
  event.extension = extension != nullptr ? extension : u"";
  event.fileStart = fileStart;
  event.size = size;
  event.complete = complete;
  if (picture != nullptr) {
    event.hasPicture = true;
    event.picture = *picture;
  }
  reinterpret_cast<Sink*>(user)->events.push_back(std::move(event));
  return folder;
}

void TRWorkerClosed(uintptr_t user, const tag_ClosedFileInfo* info) {
  if (info == nullptr) return;
  Event event;
  event.closed = true;
  event.disposition = info->disposition;
  event.path = info->path != nullptr ? info->path : u"";
  event.extension = info->extension != nullptr ? info->extension : u"";
  event.typeCode = info->typeCode;
  event.complete = info->complete;
  event.fileStart = info->fileStart;
  event.size = info->bytesWritten;
  event.leadIn = info->leadIn;
  event.expectedSize = info->expectedSize;
  if (info->size >= sizeof(tag_ClosedFileInfo)) event.unwritten = info->bytesUnwritten;
  if (info->picture != nullptr) {
    event.hasPicture = true;
    event.picture = *info->picture;
  }
  reinterpret_cast<Sink*>(user)->events.push_back(std::move(event));
}

std::string OnDiskPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Hands on the results of one authority from its hand-over point `from`,
// numbered and named as on one core; found files are moved from the
// segment's folder into the output folder.
class Joiner {
 public:
  Joiner(ParallelHost& host, std::string outputDir) : m_host(host), m_outputDir(std::move(outputDir)) {}
  bool Join(const SegmentLog& segment, uint64_t from, std::string* error);

 private:
  ParallelHost& m_host;
  std::string m_outputDir;
  std::map<uint32_t, uint32_t> m_nextNumber;  // per class, after the files joined so far
};

// A rename, or where the folders are on different file systems a copy.
void MoveFile(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& failed) {
  std::filesystem::rename(from, to, failed);
  if (!failed) return;
  std::error_code copyFailed;
  if (!std::filesystem::copy_file(from, to, copyFailed) || copyFailed) return;
  failed.clear();
  std::filesystem::remove(from, copyFailed);
}

bool Joiner::Join(const SegmentLog& segment, uint64_t from, std::string* error) {
  const bool carve = !m_outputDir.empty();
  // The number of each class's very first file in this segment: the run's
  // start value of that class's counter.
  std::map<uint32_t, uint32_t> firstNumber;
  for (const Entry& entry : segment.log)
    for (const Event& event : entry.events)
      if (event.closed && !firstNumber.count(event.typeCode))
        if (auto n = OutputNumber(Utf16ToUtf8(event.path.c_str()))) firstNumber[event.typeCode] = *n;
  std::map<uint32_t, int64_t> shift;
  uint64_t previous = from;
  std::optional<uint64_t> oldest;
  for (const Entry& entry : segment.log) {
    if (entry.position < from) continue;
    if (entry.position > previous) m_host.JoinStripEnd(entry.position, oldest);
    if (entry.faults != 0) m_host.JoinFaults(entry.faults);
    for (const Event& event : entry.events) {
      if (!event.closed) {
        m_host.JoinFound(event.extension.c_str(), event.fileStart, event.size, event.complete,
                         event.hasPicture ? &event.picture : nullptr);
        continue;
      }
      const std::string local = Utf16ToUtf8(event.path.c_str());
      std::string path = local;
      if (std::optional<uint32_t> n = OutputNumber(local)) {
        auto it = shift.find(event.typeCode);
        if (it == shift.end()) {
          auto known = m_nextNumber.find(event.typeCode);
          int64_t base = known != m_nextNumber.end() ? known->second : firstNumber[event.typeCode];
          it = shift.emplace(event.typeCode, base - static_cast<int64_t>(*n)).first;
        }
        const uint32_t number = static_cast<uint32_t>(static_cast<int64_t>(*n) + it->second);
        if (number != *n) path = RenumberedPath(local, number);
        m_nextNumber[event.typeCode] = event.disposition == TYPERECOVERY_FILE_DISCARDED ? number : number + 1;
      }
      if (carve && event.disposition != TYPERECOVERY_FILE_DISCARDED) {
        const std::filesystem::path target = m_outputDir + "/" + OnDiskPath(path);
        std::error_code failed;
        std::filesystem::create_directories(target.parent_path(), failed);
        if (event.disposition == TYPERECOVERY_FILE_KEPT) {
          if (std::filesystem::exists(target, failed)) {
            *error = "cannot join the results of many cores: " + target.string() + " exists already";
            return false;
          }
          MoveFile(segment.root + "/" + OnDiskPath(local), target, failed);
          if (failed) {
            *error = "cannot move " + OnDiskPath(local) + " into " + m_outputDir + ": " + failed.message();
            return false;
          }
        }
      }
      std::u16string widePath = Utf8ToUtf16(path);
      tag_ClosedFileInfo info{};
      info.size = sizeof info;
      info.disposition = event.disposition;
      info.path = widePath.c_str();
      info.extension = event.extension.c_str();
      info.typeCode = event.typeCode;
      info.complete = event.complete;
      info.fileStart = event.fileStart;
      info.bytesWritten = event.size;
      info.leadIn = event.leadIn;
      info.expectedSize = event.expectedSize;
      info.picture = event.hasPicture ? &event.picture : nullptr;
      info.bytesUnwritten = event.unwritten;
      m_host.JoinClosed(info);
    }
    if (!entry.flush) m_host.JoinStripEnd(entry.next, entry.oldest);
    oldest = entry.oldest;
    previous = entry.next;
  }
  if (segment.handOver >= 0 && segment.stop > previous) m_host.JoinStripEnd(segment.stop, oldest);
  return true;
}

class Engine {
 public:
  Engine(ParallelHost& host, const ParallelSettings& settings)
      : m_host(host), m_s(settings), m_joiner(host, settings.outputDir) {
    m_partsDir = settings.partsDir.empty() && !settings.outputDir.empty()
                     ? settings.outputDir + "/.typerecovery-parts"
                     : settings.partsDir;
    uint64_t step = std::max<uint64_t>(settings.block, settings.segmentBytes / settings.block * settings.block);
    for (uint64_t begin = settings.start; begin < settings.end; begin += step) {
      auto segment = std::make_unique<Segment>();
      segment->begin = segment->progress = begin;
      segment->end = std::min(settings.end, begin + step);
      if (!m_partsDir.empty()) segment->root = m_partsDir + "/" + std::to_string(m_segments.size());
      m_segments.push_back(std::move(segment));
    }
    m_step = step;
  }

  ParallelOutcome Run();
  // Segment `index` alone, with probes of the later ones.
  ParallelOutcome RunOne(size_t index, SegmentLog* result);

 private:
  void Worker();
  void Analyse(Segment& segment);
  long OwnerOf(uint64_t position) const {
    uint64_t k = (position - m_s.start) / m_step;
    return k < m_segments.size() ? static_cast<long>(k) : -1;
  }
  // Whether the manager of segment `owner` is at rest at strip end p (false
  // when that is not known: it has not started, or stopped before p).
  bool AgreesAt(long owner, uint64_t p);
  bool Stopping() const { return m_s.stopFlag != nullptr && *m_s.stopFlag != 0; }
  void Abort();

  ParallelHost& m_host;
  const ParallelSettings& m_s;
  uint64_t m_step = 0;
  std::vector<std::unique_ptr<Segment>> m_segments;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  size_t m_nextToStart = 0;
  size_t m_authority = 0;
  bool m_abort = false;
  std::atomic<bool> m_abortFlag{false};  // m_abort, for the strip loop
  uint64_t m_joined = 0;  // bytes whose results are joined
  Joiner m_joiner;
  std::string m_partsDir;
  bool m_oneSegment = false;            // RunOne: later segments are probes
  std::vector<std::thread> m_probes;    // under m_mutex
};

bool Engine::AgreesAt(long owner, uint64_t p) {
  Segment& other = *m_segments[static_cast<size_t>(owner)];
  if (p == other.begin) return true;
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_oneSegment && !other.started) {
    // That segment's manager runs elsewhere: this one answers in its place.
    other.started = other.probe = true;
    other.wanted = other.begin;
    m_probes.emplace_back([this, &other] {
      Analyse(other);
      std::lock_guard<std::mutex> done(m_mutex);
      other.done = true;
      m_changed.notify_all();
    });
  }
  if (other.probe && other.wanted < p) {
    other.wanted = p;
    m_changed.notify_all();
  }
  if (!other.started) return false;
  // Progress is published without the lock: look again now and then.
  while (!(m_abort || other.done || other.progress >= p)) m_changed.wait_for(lock, std::chrono::milliseconds(5));
  if (other.progress < p) return false;
  bool rest = true;
  for (const auto& change : other.restChanges) {
    if (change.first > p) break;
    rest = change.second;
  }
  return rest;
}

void Engine::Analyse(Segment& segment) {
  Sink sink;
  std::error_code ignored;
  if (!segment.root.empty()) std::filesystem::create_directories(segment.root, ignored);
  CTypeRecoveryManager* manager =
      m_host.NewWorkerManager(segment.root, reinterpret_cast<uintptr_t>(&sink), &TRWorkerFound, &TRWorkerClosed);
  SourceReader reader;
  std::string error;
  if (manager == nullptr || !m_host.OpenWorkerReader(&reader, segment.begin, &error)) {
    segment.failed = true;
    segment.error = manager == nullptr ? "the library could not create a manager" : error;
    if (manager != nullptr) TypeRecovery_CloseManager(manager);
    return;
  }
  bool rest = true;
  std::optional<uint64_t> oldest;
  uint64_t faults = 0;  // counted by the manager so far
  Strip strip;
  for (;;) {
    if (segment.probe) {
      std::unique_lock<std::mutex> lock(m_mutex);
      while (!m_abort && !segment.cancelled && segment.progress >= segment.wanted)
        m_changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (m_abortFlag || segment.cancelled) {
      segment.interrupted = true;
      break;
    }
    if (!reader.Next(&strip, &error)) {
      if (!error.empty()) {
        segment.failed = true;
        segment.error = error;
      } else if (reader.Interrupted()) {
        segment.interrupted = true;
      } else {
        TypeRecovery_Flush(manager);
        Entry entry;
        entry.position = entry.next = m_s.end;
        entry.flush = true;
        entry.faults = TypeRecovery_GetFaultCount(manager) - faults;
        entry.events = std::move(sink.events);
        sink.events.clear();
        if (!segment.probe) segment.log.push_back(std::move(entry));
        segment.stop = m_s.end;
      }
      break;
    }
    if (!reader.Unreadable().empty()) {
      segment.unreadable = true;
      break;
    }
    uint32_t flag = 0;
    TypeRecovery_Analyse(manager, strip.position, strip.data, strip.length, strip.lookahead, &flag);
    const uint64_t next = strip.position + strip.length;
    if (flag != 0) {
      segment.failed = segment.outputFailed = true;
      segment.error = "cannot write found files below " + m_s.outputDir;
      break;
    }
    const bool nowRest = TypeRecovery_IsAtRest(manager) != 0;
    uint64_t start = 0;
    std::optional<uint64_t> nowOldest;
    if (TypeRecovery_GetOldestOpenFileStart(manager, &start) != 0) nowOldest = start;
    const uint64_t nowFaults = TypeRecovery_GetFaultCount(manager);
    if (segment.probe) {
      sink.events.clear();
    } else if (!sink.events.empty() || nowOldest != oldest || nowFaults != faults) {
      Entry entry;
      entry.position = strip.position;
      entry.next = next;
      entry.faults = nowFaults - faults;
      entry.events = std::move(sink.events);
      sink.events.clear();
      entry.oldest = nowOldest;
      segment.log.push_back(std::move(entry));
    }
    oldest = nowOldest;
    faults = nowFaults;
    if (nowRest != rest) {
      std::lock_guard<std::mutex> lock(m_mutex);
      segment.restChanges.emplace_back(next, nowRest);
    }
    segment.progress = next;
    rest = nowRest;
    if (rest && !segment.probe && next >= segment.end && next < m_s.end) {
      const long owner = OwnerOf(next);
      if (owner >= 0 && AgreesAt(owner, next)) {
        segment.stop = next;
        segment.handOver = owner;
        break;
      }
    }
  }
  TypeRecovery_CloseManager(manager);
}

void Engine::Worker() {
  for (;;) {
    size_t k;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait(lock, [&] {
        return m_abort || m_nextToStart >= m_segments.size() || m_nextToStart < m_authority + 2 * m_s.jobs;
      });
      if (m_abort || m_nextToStart >= m_segments.size()) return;
      k = m_nextToStart++;
      m_segments[k]->started = true;
      // A segment the joined results have passed is not needed.
      if (k < m_authority) m_segments[k]->cancelled = true;
    }
    m_changed.notify_all();
    Analyse(*m_segments[k]);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_segments[k]->done = true;
    }
    m_changed.notify_all();
  }
}

void Engine::Abort() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_abort = m_abortFlag = true;
  m_changed.notify_all();
}

ParallelOutcome Engine::Run() {
  ParallelOutcome outcome;
  outcome.position = m_s.start;
  if (m_segments.empty()) return outcome;
  std::error_code stale;
  // Left by a run that was killed: its joined files are in the folder already.
  if (!m_partsDir.empty()) std::filesystem::remove_all(m_partsDir, stale);
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < m_s.jobs; ++i) threads.emplace_back([this] { Worker(); });
  auto finish = [&](ParallelOutcome::Status status) {
    Abort();
    for (std::thread& thread : threads) thread.join();
    std::error_code ignored;
    if (!m_partsDir.empty()) std::filesystem::remove_all(m_partsDir, ignored);
    outcome.status = status;
    return outcome;
  };
  size_t authority = 0;
  uint64_t from = m_s.start;
  for (;;) {
    Segment& segment = *m_segments[authority];
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      while (!segment.done && !Stopping()) {
        m_changed.wait_for(lock, std::chrono::milliseconds(200));
        uint64_t done = m_joined;
        for (size_t k = authority; k < m_segments.size() && k < m_authority + 2 * m_s.jobs; ++k)
          if (m_segments[k]->started)
            done += std::min<uint64_t>(m_segments[k]->progress.load(), m_segments[k]->end) - m_segments[k]->begin;
        lock.unlock();
        if (m_s.progress) m_s.progress(done);
        lock.lock();
      }
    }
    if (Stopping()) return finish(ParallelOutcome::Status::kStopped);
    if (segment.interrupted) return finish(ParallelOutcome::Status::kStopped);
    if (segment.unreadable) return finish(ParallelOutcome::Status::kUnreadable);
    if (segment.failed) {
      outcome.error = segment.error;
      outcome.outputFailed = segment.outputFailed;
      return finish(ParallelOutcome::Status::kFailed);
    }
    std::string error;
    if (!m_joiner.Join(segment, from, &error)) {
      outcome.error = error;
      outcome.outputFailed = true;
      return finish(ParallelOutcome::Status::kFailed);
    }
    const size_t next = segment.handOver >= 0 ? static_cast<size_t>(segment.handOver) : m_segments.size();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      for (size_t k = authority; k < next; ++k) {
        m_segments[k]->cancelled = true;
        if (m_segments[k]->done) m_segments[k]->log.clear();
      }
      m_authority = next;
      m_joined = segment.stop - m_s.start;
    }
    m_changed.notify_all();
    std::error_code ignored;
    if (!segment.root.empty()) std::filesystem::remove_all(segment.root, ignored);
    from = outcome.position = segment.stop;
    if (segment.handOver < 0) return finish(ParallelOutcome::Status::kFinished);
    authority = next;
    if (m_s.atRest && !m_s.atRest(from)) return finish(ParallelOutcome::Status::kStopped);
  }
}

ParallelOutcome Engine::RunOne(size_t index, SegmentLog* result) {
  ParallelOutcome outcome;
  m_oneSegment = true;
  std::error_code ignored;
  if (!m_partsDir.empty()) std::filesystem::remove_all(m_partsDir, ignored);
  if (index >= m_segments.size()) {
    // A cut of a short range has fewer segments than asked: this one is empty.
    result->begin = result->end = result->stop = outcome.position = m_s.end;
    return outcome;
  }
  Segment& segment = *m_segments[index];
  outcome.position = segment.begin;
  segment.started = true;
  std::thread worker([this, &segment] {
    Analyse(segment);
    std::lock_guard<std::mutex> lock(m_mutex);
    segment.done = true;
    m_changed.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!segment.done && !Stopping()) {
      m_changed.wait_for(lock, std::chrono::milliseconds(200));
      const uint64_t done = segment.progress - segment.begin;
      lock.unlock();
      if (m_s.progress) m_s.progress(done);
      lock.lock();
    }
  }
  Abort();  // the probes, and the segment itself after a stop request
  worker.join();
  for (std::thread& probe : m_probes) probe.join();
  for (size_t k = 0; k < m_segments.size(); ++k)
    if (k != index && m_segments[k]->started && !m_segments[k]->root.empty())
      std::filesystem::remove_all(m_segments[k]->root, ignored);
  if (Stopping() || segment.interrupted) {
    outcome.status = ParallelOutcome::Status::kStopped;
  } else if (segment.unreadable) {
    outcome.status = ParallelOutcome::Status::kUnreadable;
  } else if (segment.failed) {
    outcome.status = ParallelOutcome::Status::kFailed;
    outcome.error = segment.error;
    outcome.outputFailed = segment.outputFailed;
  } else {
    *result = static_cast<const SegmentLog&>(segment);
    outcome.position = segment.stop;
  }
  return outcome;
}

}  // namespace

ParallelOutcome RunOneSegment(ParallelHost& host, const ParallelSettings& settings, size_t index,
                              SegmentLog* result) {
  Engine engine(host, settings);
  return engine.RunOne(index, result);
}

ParallelOutcome JoinSegmentLogs(ParallelHost& host, const ParallelSettings& settings,
                                const std::vector<SegmentLog>& segments) {
  // The chain of authorities of RunParallel, over logs made beforehand.
  ParallelOutcome outcome;
  outcome.position = settings.start;
  Joiner joiner(host, settings.outputDir);
  size_t authority = 0;
  while (authority < segments.size()) {
    if (settings.stopFlag != nullptr && *settings.stopFlag != 0) {
      outcome.status = ParallelOutcome::Status::kStopped;
      return outcome;
    }
    const SegmentLog& segment = segments[authority];
    if (!joiner.Join(segment, outcome.position, &outcome.error)) {
      outcome.status = ParallelOutcome::Status::kFailed;
      outcome.outputFailed = true;
      return outcome;
    }
    outcome.position = segment.stop;
    if (settings.progress) settings.progress(segment.stop - settings.start);
    if (segment.handOver < 0) break;
    if (static_cast<size_t>(segment.handOver) <= authority || static_cast<size_t>(segment.handOver) >= segments.size()) {
      outcome.status = ParallelOutcome::Status::kFailed;
      outcome.error = "segment " + std::to_string(authority + 1) + " hands over to no later segment";
      return outcome;
    }
    authority = static_cast<size_t>(segment.handOver);
    if (settings.atRest && !settings.atRest(outcome.position)) {
      outcome.status = ParallelOutcome::Status::kStopped;
      return outcome;
    }
  }
  return outcome;
}

std::optional<uint32_t> OutputNumber(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  size_t begin = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.find('.', begin);
  if (dot == std::string::npos || dot == begin || dot - begin > 9) return std::nullopt;
  for (size_t i = begin; i < dot; ++i)
    if (path[i] < '0' || path[i] > '9') return std::nullopt;
  return static_cast<uint32_t>(std::stoul(path.substr(begin, dot - begin)));
}

std::string RenumberedPath(const std::string& path, uint32_t number) {
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return path;
  std::string folder = path.substr(0, slash);
  const char separator = path[slash];
  size_t dot = path.find('.', slash + 1);
  std::string rest = dot == std::string::npos ? "" : path.substr(dot);
  // "ext(NNN)" from number 1000 on, "ext" below.
  size_t open = folder.rfind('(');
  if (open != std::string::npos && folder.back() == ')') folder.erase(open);
  char digits[32];
  if (number >= 1000) {
    std::snprintf(digits, sizeof digits, "(%03u)", number / 1000);
    folder += digits;
  }
  std::snprintf(digits, sizeof digits, "%05u", number);
  return folder + separator + digits + rest;
}

ParallelOutcome RunParallel(ParallelHost& host, const ParallelSettings& settings) {
  Engine engine(host, settings);
  return engine.Run();
}

}  // namespace trcli
