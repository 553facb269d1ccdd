// The strip loop: strips read from the source and given to the manager,
// records handed on as they can go out in order, progress shown, the state
// saved when due, and the stops (interrupt, write failure, source error);
// and the loop on many cores, from a strip where the manager is at rest.
#include "ScannerRun.h"

#include <algorithm>

#include "ExitCodes.h"
#include "Platform.h"
#include "ProgressMeter.h"

namespace trcli {
namespace scanner {
namespace {

constexpr uint64_t kMinSegment = 4u << 20, kMaxSegment = 64u << 20;

}  // namespace

int Run::Loop() {
  if (m_options.mergedSegments) return ParallelLoop(false);  // merge: the segments' logs, joined
  // Many cores from a strip where the manager is at rest (at once, unless a
  // resumed run goes on with files in progress).
  const bool many = !m_oneCore && ParallelFits();
  if (many && TypeRecovery_IsAtRest(m_manager.get())) return ParallelLoop(false);
  ProgressMeter meter(ProgressMeter::Choose(m_options.quiet, stderr), stderr);
  if (!m_oneCore) {
    m_sessionStart = m_accountedUntil = Now();
    m_sessionStartPosition = m_reader.NextPosition();
  }
  m_lastSavePosition = m_reader.NextPosition();
  m_lastSave = Now();
  // Asked to stop during the set-up: before a stream's first read, which
  // could wait for input that never comes.
  if (*platform::StopRequests::Flag() != 0) {
    meter.Finish();
    return StopWithState(m_reader.NextPosition(), kExitInterrupted, "interrupted by " + platform::StopRequests::Name());
  }
  m_reader.SetBeforeWait([this](uint64_t position) { Autosave(position, true); });
  std::optional<uint64_t> total;
  if (m_reader.End()) total = *m_reader.End() - m_reader.Start();
  Strip strip;
  std::string error;
  uint64_t count = 0;
  const bool carve = m_options.mode == RunOptions::Mode::kCarve;
  while (m_reader.Next(&strip, &error)) {
    uint32_t analyseError = 0;
    TypeRecovery_Analyse(m_manager.get(), strip.position, strip.data, strip.length, strip.lookahead, &analyseError);
    uint64_t next = strip.position + strip.length;
    if (!m_pending.empty()) EmitReady(next, false);
    if (carve && analyseError != 0) {
      meter.Finish();
      m_lostWrites = true;
      return StopWithState(next, kExitOutput,
                           "cannot write found files below " + m_options.outputDir + " (" +
                               WhyUnwritable(m_options.outputDir) + "); stopped at offset " +
                               std::to_string(next) + ", files written so far are kept");
    }
    if (m_writeFailed) {
      meter.Finish();
      return StopWithState(next, kExitOutput, m_writeFailure);
    }
    if (*platform::StopRequests::Flag() != 0) {
      meter.Finish();
      return StopWithState(next, kExitInterrupted, "interrupted by " + platform::StopRequests::Name());
    }
    if (many && TypeRecovery_IsAtRest(m_manager.get())) {
      meter.Finish();
      return ParallelLoop(true);
    }
    if ((++count & 63) == 0) {
      double now = Now();
      ProgressSnapshot snapshot;
      snapshot.done = next - m_reader.Start();
      snapshot.total = total;
      snapshot.seconds = now - m_sessionStart;
      snapshot.sessionBytes = next - m_sessionStartPosition;
      snapshot.files = m_stats.Files() + m_pending.size();
      meter.Update(snapshot);
      Autosave(next, false);
    }
  }
  m_reader.SetBeforeWait(nullptr);
  meter.Finish();
  if (*platform::StopRequests::Flag() != 0 && m_reader.Interrupted()) {
    return StopWithState(m_reader.NextPosition(), kExitInterrupted, "interrupted by " + platform::StopRequests::Name());
  }
  if (!error.empty()) {
    return StopWithState(m_reader.NextPosition(), kExitSource, error);
  }
  if (!m_reader.Unreadable().empty()) Message("warning: " + UnreadableText());
  return Finish();
}

void Run::Autosave(uint64_t position, bool beforeWait) {
  if (m_options.autosaveSeconds <= 0 || position == m_lastSavePosition) return;
  const double now = Now();
  // Before a wait the save is due sooner: a run killed while it waits for
  // input should lose as little as possible, and never all of it.
  const double interval = beforeWait && m_lastSavePosition == m_sessionStartPosition
                              ? 0
                              : beforeWait ? std::min(m_options.autosaveSeconds, 1.0) : m_options.autosaveSeconds;
  if (now - m_lastSave < interval) return;
  std::string error;
  if (!SaveState(position, &error)) {
    Message("warning: " + error + "; no more automatic saves in this run");
    m_options.autosaveSeconds = 0;
  }
  m_lastSave = now;
  m_lastSavePosition = position;
}

bool Run::ParallelFits() const {
  // Workers read the source each at its own place: a file or device read
  // directly, of known length. A carve adding to an older folder keeps the
  // names one run gives there only on one core.
  if (m_options.jobs < 2 || !m_reader.Seekable() || m_reader.Fd() < 0 || m_freeSpace != nullptr ||
      !m_reader.End().has_value() || (m_options.mode == RunOptions::Mode::kCarve && m_auditName != "report"))
    return false;
  // A range of a few segments is done sooner on one core than cut up.
  return m_options.segmentBytes != 0 || *m_reader.End() - m_reader.NextPosition() >= 2 * kMinSegment;
}

int Run::ParallelLoop(bool continuing) {
  ProgressMeter meter(ProgressMeter::Choose(m_options.quiet, stderr), stderr);
  if (!continuing) {
    m_sessionStart = m_accountedUntil = Now();
    m_sessionStartPosition = m_reader.NextPosition();
  }
  m_joining = true;
  double lastSave = m_sessionStart;
  std::string error;
  ParallelSettings settings;
  settings.jobs = m_options.jobs;
  settings.start = m_reader.NextPosition();
  settings.end = *m_reader.End();
  // About eight segments per core keep the cores busy to the end; each
  // costs a manager and a hand-over.
  settings.segmentBytes = m_options.segmentBytes != 0
                              ? m_options.segmentBytes
                              : std::clamp<uint64_t>((settings.end - settings.start) / (8 * settings.jobs),
                                                     kMinSegment, kMaxSegment);
  settings.block = m_options.block;
  if (m_options.mode == RunOptions::Mode::kCarve) settings.outputDir = m_options.outputDir;
  settings.stopFlag = platform::StopRequests::Flag();
  // The first bytes identify the source in a saved state.
  if (!m_reader.SkipTo(settings.start, &error)) return StopWithState(settings.start, kExitSource, error);
  settings.progress = [&](uint64_t done) {
    ProgressSnapshot snapshot;
    snapshot.done = settings.start - m_reader.Start() + done;
    snapshot.total = settings.end - m_reader.Start();
    snapshot.seconds = Now() - m_sessionStart;
    snapshot.sessionBytes = settings.start - m_sessionStartPosition + done;
    snapshot.files = m_stats.Files() + m_pending.size();
    meter.Update(snapshot);
  };
  settings.atRest = [&](uint64_t position) {
    if (m_writeFailed) return false;
    const double now = Now();
    if (m_options.autosaveSeconds > 0 && now - lastSave >= m_options.autosaveSeconds) {
      if (!SaveState(position, &error)) {
        meter.Finish();
        Message("warning: " + error + "; no more automatic saves in this run");
        m_options.autosaveSeconds = 0;
        error.clear();
      }
      lastSave = now;
    }
    return true;
  };
  const ParallelOutcome outcome = m_options.mergedSegments ? JoinSegmentLogs(*this, settings, *m_options.mergedSegments)
                                                           : RunParallel(*this, settings);
  meter.Finish();
  m_reader.SkipTo(outcome.position, &error);
  m_joining = false;
  if (outcome.status == ParallelOutcome::Status::kUnreadable && !m_writeFailed) {
    m_oneCore = true;
    return Loop();
  }
  if (m_writeFailed) return StopWithState(outcome.position, kExitOutput, m_writeFailure);
  if (outcome.status == ParallelOutcome::Status::kFailed)
    return StopWithState(outcome.position, outcome.outputFailed ? kExitOutput : kExitSource, outcome.error);
  if (outcome.status == ParallelOutcome::Status::kStopped)
    return StopWithState(outcome.position, kExitInterrupted,
                         "interrupted by " + platform::StopRequests::Name());
  return Finish();
}

}  // namespace scanner

}  // namespace trcli
