// Statistics and how a run ends: the run summary (report.json) and the
// table printed after a carve, the unreadable regions in words, and the two
// ends of a run, finished (footers, summary, state removed) or stopped
// (state saved, footers, the command that continues it).
#include "ScannerRun.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ExitCodes.h"
#include "Platform.h"
#include "ProgressMeter.h"
#include "Sizes.h"
#include "Text.h"

namespace trcli {
namespace scanner {

RunEnd Run::Ended(RunEnd end) const {
  for (const MediaRun& run : m_reader.Unreadable()) {
    if (m_freeSpace == nullptr) {
      end.unreadable.push_back(run);
      continue;
    }
    for (const MediaRun& piece : m_freeSpace->Pieces(run.offset, run.length)) end.unreadable.push_back(piece);
  }
  end.faults = Faults();
  return end;
}

uint64_t Run::Faults() const {
  return m_stats.faults + (m_manager ? TypeRecovery_GetFaultCount(m_manager.get()) : 0);
}

std::string Run::FaultsText() const {
  return std::to_string(Faults()) +
         " time(s) a recognizer failed: the file it was following was dropped (a fault in this tool)";
}

std::string Run::UnreadableText() const {
  const RunEnd end = Ended(RunEnd());
  if (end.unreadable.empty()) return "";
  std::string text = std::to_string(end.unreadable.size()) + " unreadable region(s) of the source, " +
                     FormatBytes(m_reader.UnreadableBytes()) + ", were read as zeros (offset+length):";
  size_t shown = 0;
  for (const MediaRun& run : end.unreadable) {
    if (++shown > 8) {
      text += " ...";
      break;
    }
    text += " " + std::to_string(run.offset) + "+" + std::to_string(run.length);
  }
  return text;
}

bool Run::WriteSummary(const std::string& status, const std::string& detail) {
  if (m_options.mode != RunOptions::Mode::kCarve) return true;
  nlohmann::ordered_json summary;
  summary["program"] = "typerecovery";
  summary["version"] = TYPERECOVERY_TOOL_VERSION;
  summary["command_line"] = m_options.commandLine;
  summary["source"] = {{"path", m_options.source}, {"size", m_reader.SourceSize()}};
  summary["output"] = m_options.outputDir;
  summary["audit"] = m_auditName + ".xml";
  summary["options"] = m_options.Settings();
  summary["start_time"] = m_startTime;
  summary["end_time"] = status == "running" ? nlohmann::ordered_json() : nlohmann::ordered_json(UtcNow());
  summary["status"] = status;
  if (!detail.empty()) summary["detail"] = detail;
  if (!m_options.mergedFrom.is_null()) summary["merged_segments"] = m_options.mergedFrom;
  summary["sessions"] = m_stats.sessions;
  summary["seconds"] = m_stats.seconds;
  summary["bytes_scanned"] = m_stats.bytesScanned;
  if (!m_reader.Unreadable().empty()) {
    nlohmann::ordered_json regions = nlohmann::ordered_json::array();
    for (const MediaRun& run : Ended(RunEnd()).unreadable)
      regions.push_back({{"offset", run.offset}, {"length", run.length}});
    summary["unreadable"] = regions;
    summary["unreadable_bytes"] = m_reader.UnreadableBytes();
  }
  nlohmann::ordered_json types = nlohmann::ordered_json::object();
  ExtensionStats total;
  for (const auto& entry : m_stats.byExtension) {
    const ExtensionStats& s = entry.second;
    types[entry.first] = {{"files", s.files},     {"complete", s.complete}, {"cut", s.cut},
                          {"bytes", s.bytes},     {"skipped_larger", s.dropped},
                          {"filtered", s.filtered}};
    total.files += s.files;
    total.complete += s.complete;
    total.cut += s.cut;
    total.bytes += s.bytes;
    total.dropped += s.dropped;
    total.filtered += s.filtered;
  }
  summary["types"] = types;
  summary["total"] = {{"files", total.files},   {"complete", total.complete}, {"cut", total.cut},
                      {"bytes", total.bytes},   {"skipped_larger", total.dropped},
                      {"filtered", total.filtered}};
  if (!m_options.hashName.empty()) summary["unhashed_files"] = m_stats.unhashed;
  if (!m_incomplete.empty()) summary["incomplete_files"] = m_incomplete;
  if (m_options.dedup) summary["duplicates_not_written"] = m_stats.duplicates;
  summary["recognizer_faults"] = Faults();
  std::string path = m_options.outputDir + "/" + m_auditName + ".json";
  std::string temporary = path + ".tmp";
  std::string text = summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  int fd = platform::OpenForWriting(temporary);
  bool ok = fd >= 0 && PwriteAll(fd, text.data(), text.size(), 0);
  if (fd >= 0 && !platform::Close(fd)) ok = false;
  if (ok && !platform::ReplaceFile(temporary, path)) ok = false;
  if (!ok) platform::RemoveFile(temporary);
  return ok;
}

void Run::SessionTime() {
  double now = Now();
  m_stats.seconds += now - m_accountedUntil;
  m_accountedUntil = now;
}

void Run::PrintStopSummary(uint64_t position) {
  SessionTime();
  RunStats stats = m_stats;
  stats.bytesScanned = position - m_reader.Start();
  // Files closed but waiting for an earlier one still open are on disk and
  // in the audit too.
  for (const auto& entry : m_pending) {
    ExtensionStats& s = stats.byExtension[entry.second.extension];
    ++s.files;
    ++(entry.second.complete ? s.complete : s.cut);
    s.bytes += entry.second.size;
  }
  if (m_options.mode == RunOptions::Mode::kCarve) {
    std::string summary = "stopped; written so far:\n" + FormatSummary(stats, m_options.outputDir);
    std::fputs(summary.c_str(), stdout);
    std::fflush(stdout);
  } else if (!m_options.quiet) {
    Message(std::to_string(stats.Files()) + " files found so far in " + FormatBytes(stats.bytesScanned) + " scanned");
  }
}

int Run::StopWithState(uint64_t position, int exitCode, const std::string& why) {
  if (m_report != nullptr) {
    // The report stays well-formed; the footer is cut off again on resume.
    std::fflush(m_report);
  }
  std::string error;
  bool saved = false;
  if (m_keepsState) {
    saved = SaveState(position, &error);
    if (!saved && m_options.statePath.empty()) {
      // The output disk may be the full one: keep the state somewhere else.
      std::string keep = m_statePath;
      m_statePath = platform::TemporaryFolder() + "/typerecovery-state-" + std::to_string(platform::ProcessId());
      std::string second;
      saved = SaveState(position, &second);
      if (!saved) m_statePath = keep;
    }
  }
  if (m_report != nullptr && m_writer) {
    std::string footer = m_writer->Footer(Ended(RunEnd{"interrupted", UtcNow(), why, false}));
    std::fwrite(footer.data(), 1, footer.size(), m_report);
    std::fflush(m_report);
  }
  PrintStopSummary(position);
  // Records still waiting for an earlier open file go into the audit after
  // the saved length: the audit lists every closed file now, and a resumed
  // run cuts them off and writes them again in their place.
  while (!m_pending.empty()) {
    WriteRecord(m_pending.begin()->second);
    m_pending.erase(m_pending.begin());
  }
  UpdateAuditFooter(RunEnd{"interrupted", UtcNow(),
                           why + (saved ? "; state saved" : "; not resumable") +
                               "; files being written at the stop are not listed",
                           false});
  if (m_auditFd >= 0) platform::Sync(m_auditFd);
  WriteSummary(saved ? "interrupted" : "stopped", why);
  Message(why);
  if (saved) {
    Message("state saved to " + m_statePath + " at offset " + std::to_string(position) + "; continue with:");
    std::fprintf(stderr, "  %s\n", ResumeCommand().c_str());
    return exitCode;
  }
  if (!m_keepsState)
    Message("no state was kept (the report went to standard output); give --state FILE to be able to resume");
  else
    Message(error + "; the run cannot be resumed");
  return exitCode == kExitInterrupted ? kExitStoppedUnsaved : exitCode;
}

int Run::Finish() {
  TypeRecovery_Flush(m_manager.get());
  if (Faults() != 0) Message("warning: " + FaultsText());
  EmitReady(0, true);
  SessionTime();
  uint64_t end = m_reader.NextPosition();
  m_stats.bytesScanned = end - m_reader.Start();
  if (m_writeFailed) return StopWithState(end, kExitOutput, m_writeFailure);
  const RunEnd finished{"finished", UtcNow(), "", true};
  if (m_report != nullptr) {
    std::string footer = m_writer->Footer(Ended(finished));
    if (std::fwrite(footer.data(), 1, footer.size(), m_report) != footer.size() || std::fflush(m_report) != 0) {
      return StopWithState(end, kExitOutput,
                           "cannot write the report " +
                               (m_reportIsStdout ? std::string("to standard output") : m_options.reportPath) + ": " +
                               std::strerror(errno));
    }
  }
  if (m_auditFd >= 0 && (!UpdateAuditFooter(finished) || !platform::Sync(m_auditFd))) {
    Message("cannot write the audit record in " + m_options.outputDir + ": " + std::strerror(errno));
    return kExitOutput;
  }
  if (!WriteSummary("finished", "")) {
    Message("cannot write the run summary in " + m_options.outputDir + ": " + std::strerror(errno));
    return kExitOutput;
  }
  if (m_keepsState) platform::RemoveFile(m_statePath);
  if (m_journalFd >= 0) {
    platform::Close(m_journalFd);
    m_journalFd = -1;
    platform::RemoveFile(JournalPath());
  }
  m_duplicates.Remove();
  if (m_options.mode == RunOptions::Mode::kCarve) {
    std::string summary = FormatSummary(m_stats, m_options.outputDir);
    summary += "audit: " + m_options.outputDir + "/" + m_auditName + ".xml, " + m_auditName + ".json\n";
    if (!m_reader.Unreadable().empty()) summary += UnreadableText() + "\n";
    for (const std::string& path : m_incomplete)
      summary += "incomplete: " + path + " (a full disk cut it, and the stream cannot be read again)\n";
    for (const std::string& note : m_sourceNotes) summary += note + "\n";
    if (Faults() != 0) summary += FaultsText() + "\n";
    if (std::fputs(summary.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
      Message("cannot write the summary to standard output: " + std::string(std::strerror(errno)));
      return kExitOutput;
    }
  } else if (!m_options.quiet) {
    char line[160];
    std::snprintf(line, sizeof line, "%" PRIu64 " files found in %s scanned, %.1f s, %.1f MiB/s",
                  m_stats.Files(), FormatBytes(m_stats.bytesScanned).c_str(), m_stats.seconds,
                  Throughput(m_stats.bytesScanned, m_stats.seconds));
    Message(line);
  }
  return kExitOk;
}

}  // namespace scanner

uint64_t RunStats::Files() const {
  uint64_t files = 0;
  for (const auto& entry : byExtension) files += entry.second.files;
  return files;
}

nlohmann::json RunStats::ToJson() const {
  nlohmann::json json;
  json["bytes_scanned"] = bytesScanned;
  json["seconds"] = seconds;
  json["sessions"] = sessions;
  json["unhashed"] = unhashed;
  json["duplicates"] = duplicates;
  json["faults"] = faults;
  nlohmann::json extensions = nlohmann::json::object();
  for (const auto& entry : byExtension) {
    const ExtensionStats& s = entry.second;
    extensions[entry.first] = {s.files, s.complete, s.cut, s.bytes, s.dropped, s.filtered};
  }
  json["extensions"] = extensions;
  return json;
}

RunStats RunStats::FromJson(const nlohmann::json& json) {
  RunStats stats;
  try {
    stats.bytesScanned = json.value("bytes_scanned", uint64_t{0});
    stats.seconds = json.value("seconds", 0.0);
    stats.sessions = json.value("sessions", uint64_t{0});
    stats.unhashed = json.value("unhashed", uint64_t{0});
    stats.duplicates = json.value("duplicates", uint64_t{0});
    stats.faults = json.value("faults", uint64_t{0});
    nlohmann::json extensions = json.value("extensions", nlohmann::json::object());
    for (auto& item : extensions.items()) {
      const nlohmann::json& v = item.value();
      if (!v.is_array() || v.size() != 6) continue;
      stats.byExtension[item.key()] = {v[0].get<uint64_t>(), v[1].get<uint64_t>(), v[2].get<uint64_t>(),
                                       v[3].get<uint64_t>(), v[4].get<uint64_t>(), v[5].get<uint64_t>()};
    }
  } catch (const nlohmann::json::exception&) {
  }
  return stats;
}

std::string FormatSummary(const RunStats& stats, const std::string& outputDir) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "%-10s %8s %9s %6s %14s\n", "extension", "files", "complete", "cut", "bytes");
  out += line;
  ExtensionStats total;
  uint64_t dropped = 0;
  uint64_t filtered = 0;
  for (const auto& entry : stats.byExtension) {
    const ExtensionStats& s = entry.second;
    dropped += s.dropped;
    filtered += s.filtered;
    if (s.files == 0) continue;
    std::snprintf(line, sizeof line, "%-10s %8" PRIu64 " %9" PRIu64 " %6" PRIu64 " %14s\n", entry.first.c_str(),
                  s.files, s.complete, s.cut, FormatBytes(s.bytes).c_str());
    out += line;
    total.files += s.files;
    total.complete += s.complete;
    total.cut += s.cut;
    total.bytes += s.bytes;
  }
  std::snprintf(line, sizeof line, "%-10s %8" PRIu64 " %9" PRIu64 " %6" PRIu64 " %14s\n", "total", total.files,
                total.complete, total.cut, FormatBytes(total.bytes).c_str());
  out += line;
  if (dropped > 0) {
    std::snprintf(line, sizeof line, "%" PRIu64 " more found file(s) were larger than --skip-larger and not kept\n",
                  dropped);
    out += line;
  }
  if (filtered > 0) {
    std::snprintf(line, sizeof line,
                  "%" PRIu64 " more found file(s) were under --min-size or --min-resolution and not kept\n", filtered);
    out += line;
  }
  if (stats.duplicates > 0) {
    std::snprintf(line, sizeof line,
                  "%" PRIu64 " more found file(s) repeated an earlier file's bytes: in the audit, not written (--dedup)\n",
                  stats.duplicates);
    out += line;
  }
  if (stats.unhashed > 0) {
    std::snprintf(line, sizeof line, "%" PRIu64 " file(s) could not be read back for their digest\n", stats.unhashed);
    out += line;
  }
  std::snprintf(line, sizeof line, "scanned %s in %.2f s (%.1f MiB/s)%s\n", FormatBytes(stats.bytesScanned).c_str(),
                stats.seconds, Throughput(stats.bytesScanned, stats.seconds),
                stats.sessions > 1 ? (", over " + std::to_string(stats.sessions) + " sessions").c_str() : "");
  out += line;
  if (!outputDir.empty()) out += "output: " + EscapeInvalidUtf8(outputDir) + "\n";
  return out;
}

}  // namespace trcli
