#include "Scanner.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "EvidenceSource.h"
#include "ExitCodes.h"
#include "Hasher.h"
#include "Platform.h"
#include "ProgressMeter.h"
#include "Sizes.h"
#include "SourceReader.h"
#include "StateFile.h"
#include "Text.h"
#include "TypeCatalog.h"
#include "typerecovery.h"

namespace trcli {
namespace {

void Message(const std::string& text) { std::fprintf(stderr, "typerecovery: %s\n", text.c_str()); }

std::string Quote(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t'\"\\$`!*?[]{}()<>|&;#~") == std::string::npos) return text;
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Receives the report-mode manager's found-file reports.
struct Collector {
  const TypeCatalog* catalog = nullptr;
  const ReportWriter* writer = nullptr;
  FILE* report = nullptr;
  std::string hashName;
  const SourceReader* reader = nullptr;  // set when found files can be read back
  const MediaMap* freeSpace = nullptr;   // free-space runs: stream offsets to media
  uint64_t restrictedSize = UINT64_MAX;
  RunStats* stats = nullptr;
  bool writeFailed = false;
  uint64_t files = 0;
};

uint32_t TRCollect(uintptr_t userValue, uint32_t typeFolderValue, uint32_t*, const char16_t* extension,
                   uint64_t fileStart, uint64_t size, uint32_t complete, const tag_PictureInfo* picture) {
  Collector& collector = *reinterpret_cast<Collector*>(userValue);
  FoundFile file;
  file.offset = fileStart;
  file.size = size;
  file.extension = Utf16ToUtf8(extension, 8);
  file.complete = complete != 0;
  if (picture != nullptr && picture->size == sizeof(tag_PictureInfo)) file.picture = FromPictureInfo(*picture);
  file.typeCode = collector.catalog->CodeForExtension(file.extension);
  if (file.typeCode == 0 && file.picture) file.typeCode = file.picture->typeCode;
  std::string key = ToLower(file.extension);
  ExtensionStats& stats = collector.stats->byExtension[key];
  if (size > collector.restrictedSize) {
    ++stats.dropped;
    return typeFolderValue;
  }
  ++stats.files;
  ++(file.complete ? stats.complete : stats.cut);
  stats.bytes += size;
  ++collector.files;
  if (collector.report != nullptr && collector.writer != nullptr) {
    if (!collector.hashName.empty() && collector.reader != nullptr) {
      // Read back through the reader: in free space, exactly the bytes the
      // file was found in.
      const SourceReader* reader = collector.reader;
      auto digest = HashRead([reader](uint64_t position, uint8_t* into, size_t want) {
        return reader->ReadAt(position, into, want);
      }, fileStart, file.size, collector.hashName);
      if (digest) file.hash = *digest;
    }
    if (collector.freeSpace != nullptr) {
      file.pieces = collector.freeSpace->Pieces(fileStart, size);
      if (!file.pieces.empty()) file.offset = file.pieces.front().offset;
    }
    std::string text = collector.writer->Record(file);
    if (std::fwrite(text.data(), 1, text.size(), collector.report) != text.size())
      collector.writeFailed = true;
  }
  return typeFolderValue;
}

// Why writing below a folder fails, in words: a full disk or the error a
// fresh file there gets.
std::string WhyUnwritable(const std::string& folder) {
  if (platform::DiskFull(folder)) return "the disk is full";
  std::string probe = folder + "/.typerecovery-probe";
  int fd = platform::OpenForWriting(probe);
  if (fd < 0) return std::strerror(errno);
  std::string reason = "a write failed";
  if (!platform::WriteAll(fd, "probe", 5)) reason = std::strerror(errno);
  platform::Close(fd);
  platform::RemoveFile(probe);
  return reason;
}

bool ProbeWritable(const std::string& folder, std::string* reason) {
  std::string probe = folder + "/.typerecovery-probe";
  int fd = platform::OpenForWriting(probe);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  platform::Close(fd);
  platform::RemoveFile(probe);
  return true;
}

struct ManagerDeleter {
  void operator()(CTypeRecoveryManager* manager) const { TypeRecovery_CloseManager(manager); }
};
using ManagerPtr = std::unique_ptr<CTypeRecoveryManager, ManagerDeleter>;

std::string PrefixDigest(const std::vector<uint8_t>& prefix, size_t length) {
  auto digest = HashBytes(prefix.data(), length, "sha256");
  return digest ? *digest : "";
}

class Run {
 public:
  explicit Run(RunOptions options) : m_options(std::move(options)) {}
  int Execute();

 private:
  int Prepare();
  int Loop();
  int Finish();
  bool SaveState(uint64_t position, std::string* error);
  // Saves the state after a stop and tells how to go on; answers exitCode.
  int StopWithState(uint64_t position, int exitCode, const std::string& why);
  std::string ResumeCommand() const;
  bool OpenReport(std::string* error);
  void SessionTime();

  RunOptions m_options;
  TypeCatalog m_catalog;
  TypeSelection m_selection;
  SourceReader m_reader;
  std::string m_statePath;
  ManagerPtr m_folderManager;
  ManagerPtr m_reportManager;
  Collector m_collector;
  RunStats m_stats;
  std::unique_ptr<ReportWriter> m_writer;
  FILE* m_report = nullptr;
  bool m_reportIsStdout = false;
  uint64_t m_resumedReportLength = 0;
  double m_sessionStart = 0;    // for this session's rate
  double m_accountedUntil = 0;  // time up to here is in m_stats.seconds
  uint64_t m_sessionStartPosition = 0;
  nlohmann::json m_sourceInfo;
  std::shared_ptr<const MediaMap> m_freeSpace;
  std::vector<std::string> m_sourceNotes;
};

int Run::Execute() {
  int status = Prepare();
  if (status != kExitOk) return status;
  platform::StopRequests stopRequests;
  status = Loop();
  if (m_report != nullptr && !m_reportIsStdout) std::fclose(m_report);
  else if (m_report != nullptr) std::fflush(m_report);
  m_report = nullptr;
  return status;
}

int Run::Prepare() {
  std::string error;
  m_statePath = m_options.statePath.empty() ? m_options.DefaultStatePath() : m_options.statePath;
  // A report on standard output cannot be continued anyway: such a scan
  // keeps no state in the current folder unless it is stopped.
  if (m_options.mode == RunOptions::Mode::kScan && m_options.statePath.empty() &&
      (m_options.reportPath.empty() || m_options.reportPath == "-"))
    m_options.autosaveSeconds = 0;

  std::unique_ptr<StateReader> state;
  if (m_options.resume) {
    state = std::make_unique<StateReader>();
    if (!state->Open(m_statePath, &error)) {
      Message(error);
      return kExitState;
    }
    const nlohmann::json& info = state->Info();
    if (info.value("command", "") != m_options.ModeName()) {
      Message("the state file " + m_statePath + " belongs to a '" + info.value("command", "?") +
              "' run, not to '" + m_options.ModeName() + "'");
      return kExitState;
    }
    if (!m_options.AdoptSettings(info.value("settings", nlohmann::json::object()), &error)) {
      Message(error);
      return kExitState;
    }
  } else if (platform::PathExists(m_statePath)) {
    Message("a state file of an interrupted run exists: " + m_statePath +
            "; continue it with --resume, or remove it to start over");
    return kExitState;
  }

  if (!IsValidBlock(m_options.block)) {
    Message("--block must be a power of two from 512 to 1048576");
    return kExitUsage;
  }
  m_catalog = TypeCatalog::FromLibrary();
  if (!ResolveSelection(m_catalog, m_options.types, m_options.maxSizes, &m_selection, &error)) {
    Message(error);
    return kExitUsage;
  }
  if (m_selection.Codes(m_catalog).empty()) {
    Message("no file types selected (the library reports none)");
    return kExitUsage;
  }
  if (state) {
    nlohmann::json codes = m_selection.Codes(m_catalog);
    if (state->Info().value("codes", nlohmann::json::array()) != codes) {
      Message("the selected types differ from those of the saved run (was the library changed?); the state file " +
              m_statePath + " cannot be used");
      return kExitState;
    }
  }
  if (!m_options.hashName.empty() && !IsKnownHash(m_options.hashName)) {
    Message("--hash must be sha256, md5 or sha1");
    return kExitUsage;
  }

  SourceRequest request;
  request.path = m_options.source;
  request.partition = m_options.partition;
  request.unallocated = m_options.unallocated;
  request.offset = m_options.offset;
  request.length = m_options.length;
  PreparedSource prepared;
  if (!ParseSourceFormat(m_options.sourceFormat, &request.format)) {
    Message("--source-format must be auto, raw, split, ewf, aff, vhd or vmdk");
    return kExitUsage;
  }
  if (!PrepareSource(request, &prepared, &error) ||
      !(prepared.medium ? m_reader.OpenMedium(std::move(prepared.medium), prepared.offset, prepared.length, &error)
                        : m_reader.Open(m_options.source, prepared.offset, prepared.length, &error))) {
    Message(error);
    return kExitSource;
  }
  m_freeSpace = prepared.freeSpace;
  m_sourceNotes = prepared.notes;
  if (!m_options.quiet)
    for (const std::string& note : m_sourceNotes) Message(note);
  m_reader.SetGeometry(m_options.block, m_options.chunk, m_options.lookahead);
  m_reader.SetStopFlag(platform::StopRequests::Flag());
  if (!m_options.hashName.empty() && !m_reader.Seekable()) {
    Message("--hash reads found files back from the source, so it needs a file or device, not a stream");
    return kExitUsage;
  }

  if (m_options.mode == RunOptions::Mode::kCarve) {
    if (!platform::MakeFolders(m_options.outputDir)) {
      Message("cannot create the output folder " + m_options.outputDir + ": " + std::strerror(errno));
      return kExitOutput;
    }
    if (!ProbeWritable(m_options.outputDir, &error)) {
      Message("cannot write in the output folder " + m_options.outputDir + ": " + error);
      return kExitOutput;
    }
    std::u16string root = PathToUtf16(m_options.outputDir);
    m_folderManager.reset(TypeRecovery_CreateManager(0, nullptr, root.c_str()));
    if (!m_folderManager) {
      Message("the library refused the output folder " + m_options.outputDir);
      return kExitInternal;
    }
    m_selection.ApplyTo(m_folderManager.get());
    if (m_options.restrictedSize) TypeRecovery_SetRestrictedSize(m_folderManager.get(), *m_options.restrictedSize);
  }
  m_reportManager.reset(TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&m_collector), &TRCollect, nullptr));
  if (!m_reportManager) {
    Message("the library could not create a manager");
    return kExitInternal;
  }
  m_selection.ApplyTo(m_reportManager.get());
  if (m_options.restrictedSize) TypeRecovery_SetRestrictedSize(m_reportManager.get(), *m_options.restrictedSize);

  if (state) {
    const nlohmann::json& info = state->Info();
    TypeRecoveryFile file = platform::LibraryFile(state->Fd());
    if ((m_folderManager && !TypeRecovery_LoadProgress(m_folderManager.get(), file)) ||
        !TypeRecovery_LoadProgress(m_reportManager.get(), file)) {
      Message("the library could not load the progress saved in " + m_statePath);
      return kExitState;
    }
    const nlohmann::json& source = info.value("source", nlohmann::json::object());
    uint64_t position = info.value("position", uint64_t{0});
    uint64_t savedSize = source.value("size", uint64_t{0});
    if (savedSize != 0 && m_reader.SourceSize() != 0 && savedSize != m_reader.SourceSize()) {
      Message("the source " + m_options.source + " is not the one the state file " + m_statePath +
              " was saved for (its size differs)");
      return kExitState;
    }
    if (position < m_reader.Start() || (m_reader.End() && position > *m_reader.End()) ||
        !m_reader.SkipTo(position, &error)) {
      Message("cannot continue at the saved position " + std::to_string(position) + ": " +
              (error.empty() ? "outside the source" : error));
      return kExitState;
    }
    size_t prefixLength = source.value("prefix_length", size_t{0});
    if (m_reader.Prefix().size() < prefixLength ||
        PrefixDigest(m_reader.Prefix(), prefixLength) != source.value("prefix_sha256", "")) {
      Message("the source " + m_options.source + " is not the one the state file " + m_statePath +
              " was saved for (its first bytes differ)");
      return kExitState;
    }
    if (source.value("path", "") != m_options.source)
      Message("note: the state was saved for the source " + source.value("path", "") + "; continuing with " +
              m_options.source + ", whose content matches");
    m_stats = RunStats::FromJson(info.value("stats", nlohmann::json::object()));
    m_resumedReportLength = info.value("report_length", uint64_t{0});
  }

  if (!OpenReport(&error)) {
    Message(error);
    return kExitOutput;
  }
  m_collector.catalog = &m_catalog;
  m_collector.writer = m_writer.get();
  m_collector.report = m_report;
  m_collector.hashName = m_options.hashName;
  m_collector.reader = m_reader.Seekable() ? &m_reader : nullptr;
  m_collector.freeSpace = m_freeSpace.get();
  m_collector.restrictedSize = m_options.restrictedSize.value_or(UINT64_MAX);
  m_collector.stats = &m_stats;
  m_collector.files = m_stats.Files();
  ++m_stats.sessions;
  return kExitOk;
}

bool Run::OpenReport(std::string* error) {
  bool wanted = m_options.mode == RunOptions::Mode::kScan || !m_options.reportPath.empty();
  if (!wanted) return true;
  ReportContext context;
  context.sourcePath = m_options.source;
  context.hashName = m_options.hashName;
  context.commandLine = m_options.commandLine;
  context.pieced = m_freeSpace != nullptr;
  m_writer = MakeReportWriter(m_options.format, context);
  m_reportIsStdout = m_options.reportPath.empty() || m_options.reportPath == "-";
  std::string header = m_writer->Header();
  if (m_reportIsStdout) {
    m_report = stdout;
  } else if (m_options.resume) {
    // Cut the report back to what the saved state had written, then append.
    int fd = platform::OpenForUpdate(m_options.reportPath);
    if (fd < 0 || !platform::Truncate(fd, m_resumedReportLength) || !platform::SeekToEnd(fd)) {
      *error = "cannot continue the report " + m_options.reportPath + ": " + std::strerror(errno);
      if (fd >= 0) platform::Close(fd);
      return false;
    }
    m_report = platform::StreamOf(fd, "a");
    header.clear();
  } else {
    m_report = platform::OpenStream(m_options.reportPath, "w");
  }
  if (m_report == nullptr) {
    *error = "cannot write the report " + m_options.reportPath + ": " + std::strerror(errno);
    return false;
  }
  if (!header.empty() && std::fwrite(header.data(), 1, header.size(), m_report) != header.size()) {
    *error = "cannot write the report " + m_options.reportPath;
    return false;
  }
  return true;
}

void Run::SessionTime() {
  double now = Now();
  m_stats.seconds += now - m_accountedUntil;
  m_accountedUntil = now;
}

bool Run::SaveState(uint64_t position, std::string* error) {
  SessionTime();
  m_stats.bytesScanned = position - m_reader.Start();
  uint64_t reportLength = 0;
  if (m_report != nullptr) {
    std::fflush(m_report);
    if (!m_reportIsStdout) reportLength = static_cast<uint64_t>(std::max<long>(0, std::ftell(m_report)));
  }
  size_t prefixLength = static_cast<size_t>(
      std::min<uint64_t>(m_reader.Prefix().size(), position - m_reader.Start()));
  nlohmann::json info;
  info["format"] = 1;
  info["command"] = m_options.ModeName();
  info["settings"] = m_options.Settings();
  info["codes"] = m_selection.Codes(m_catalog);
  info["source"] = {{"path", m_options.source},
                    {"size", m_reader.SourceSize()},
                    {"prefix_length", prefixLength},
                    {"prefix_sha256", PrefixDigest(m_reader.Prefix(), prefixLength)}};
  info["position"] = position;
  info["report_length"] = reportLength;
  info["stats"] = m_stats.ToJson();
  std::vector<CTypeRecoveryManager*> managers;
  if (m_folderManager) managers.push_back(m_folderManager.get());
  managers.push_back(m_reportManager.get());
  return WriteStateFile(m_statePath, info, [&](int fd) {
    for (CTypeRecoveryManager* manager : managers)
      if (!TypeRecovery_SaveProgress(manager, platform::LibraryFile(fd))) return false;
    return true;
  }, error);
}

std::string Run::ResumeCommand() const {
  std::string command = "typerecovery " + std::string(m_options.ModeName()) + " " + Quote(m_options.source);
  if (m_options.mode == RunOptions::Mode::kCarve) command += " -o " + Quote(m_options.outputDir);
  if (!m_options.statePath.empty() || m_statePath != m_options.DefaultStatePath())
    command += " --state " + Quote(m_statePath);
  return command + " --resume";
}

int Run::StopWithState(uint64_t position, int exitCode, const std::string& why) {
  if (m_report != nullptr) {
    // The report stays well-formed; the footer is cut off again on resume.
    std::fflush(m_report);
  }
  std::string error;
  bool saved = SaveState(position, &error);
  if (!saved && m_options.statePath.empty() && m_options.mode == RunOptions::Mode::kCarve) {
    // The output disk may be the full one: keep the state somewhere else.
    std::string keep = m_statePath;
    m_statePath = platform::TemporaryFolder() + "/typerecovery-state-" + std::to_string(platform::ProcessId());
    std::string second;
    saved = SaveState(position, &second);
    if (!saved) m_statePath = keep;
  }
  if (m_report != nullptr && m_writer) {
    std::string footer = m_writer->Footer();
    std::fwrite(footer.data(), 1, footer.size(), m_report);
    std::fflush(m_report);
  }
  Message(why);
  if (saved) {
    Message("state saved to " + m_statePath + " at offset " + std::to_string(position) + "; continue with:");
    std::fprintf(stderr, "  %s\n", ResumeCommand().c_str());
  } else {
    Message(error + "; the run cannot be resumed");
  }
  return exitCode;
}

int Run::Loop() {
  ProgressMeter meter(ProgressMeter::Choose(m_options.quiet, stderr), stderr);
  m_sessionStart = m_accountedUntil = Now();
  m_sessionStartPosition = m_reader.NextPosition();
  double lastSave = m_sessionStart;
  std::optional<uint64_t> total;
  if (m_reader.End()) total = *m_reader.End() - m_reader.Start();
  Strip strip;
  std::string error;
  uint64_t count = 0;
  while (m_reader.Next(&strip, &error)) {
    uint32_t folderError = 0;
    if (m_folderManager)
      TypeRecovery_Analyse(m_folderManager.get(), strip.position, strip.data, strip.length, strip.lookahead,
                           &folderError);
    uint32_t reportError = 0;
    TypeRecovery_Analyse(m_reportManager.get(), strip.position, strip.data, strip.length, strip.lookahead,
                         &reportError);
    uint64_t next = strip.position + strip.length;
    if (folderError != 0) {
      meter.Finish();
      return StopWithState(next, kExitOutput,
                           "cannot write found files below " + m_options.outputDir + " (" +
                               WhyUnwritable(m_options.outputDir) + "); stopped at offset " +
                               std::to_string(next) + ", files written so far are kept");
    }
    if (m_collector.writeFailed) {
      meter.Finish();
      return StopWithState(next, kExitOutput, "cannot write the report " + m_options.reportPath);
    }
    if (*platform::StopRequests::Flag() != 0) {
      meter.Finish();
      return StopWithState(next, kExitInterrupted, "interrupted by " + platform::StopRequests::Name());
    }
    if ((++count & 63) == 0) {
      double now = Now();
      ProgressSnapshot snapshot;
      snapshot.done = next - m_reader.Start();
      snapshot.total = total;
      snapshot.seconds = now - m_sessionStart;
      snapshot.sessionBytes = next - m_sessionStartPosition;
      snapshot.files = m_collector.files;
      meter.Update(snapshot);
      if (m_options.autosaveSeconds > 0 && now - lastSave >= m_options.autosaveSeconds) {
        if (!SaveState(next, &error)) {
          meter.Finish();
          Message("warning: " + error + "; no more automatic saves in this run");
          m_options.autosaveSeconds = 0;
          error.clear();
        }
        lastSave = now;
      }
    }
  }
  meter.Finish();
  if (*platform::StopRequests::Flag() != 0 && m_reader.Interrupted()) {
    return StopWithState(m_reader.NextPosition(), kExitInterrupted,
                         "interrupted by " + platform::StopRequests::Name());
  }
  if (!error.empty()) {
    return StopWithState(m_reader.NextPosition(), kExitSource, error);
  }
  if (m_reader.UnreadableBlocks() > 0)
    Message("warning: " + std::to_string(m_reader.UnreadableBlocks()) +
            " unreadable block(s) of the source were read as zeros");
  return Finish();
}

int Run::Finish() {
  if (m_folderManager) TypeRecovery_Flush(m_folderManager.get());
  TypeRecovery_Flush(m_reportManager.get());
  SessionTime();
  uint64_t end = m_reader.NextPosition();
  m_stats.bytesScanned = end - m_reader.Start();
  if (m_report != nullptr) {
    std::string footer = m_writer->Footer();
    if (std::fwrite(footer.data(), 1, footer.size(), m_report) != footer.size() || std::fflush(m_report) != 0 ||
        m_collector.writeFailed) {
      Message("cannot write the report " + m_options.reportPath);
      return kExitOutput;
    }
  }
  platform::RemoveFile(m_statePath);
  if (m_options.mode == RunOptions::Mode::kCarve) {
    std::fputs(FormatSummary(m_stats, m_options.outputDir).c_str(), stdout);
    for (const std::string& note : m_sourceNotes) std::printf("%s\n", note.c_str());
    std::fflush(stdout);
  } else if (!m_options.quiet) {
    char line[160];
    std::snprintf(line, sizeof line, "%" PRIu64 " files found in %s scanned, %.1f s, %.1f MB/s",
                  m_stats.Files(), FormatBytes(m_stats.bytesScanned).c_str(), m_stats.seconds,
                  Throughput(m_stats.bytesScanned, m_stats.seconds));
    Message(line);
  }
  return kExitOk;
}

}  // namespace

nlohmann::json RunOptions::Settings() const {
  nlohmann::json settings;
  settings["types"] = types;
  settings["max-size"] = maxSizes;
  settings["restricted-size"] = restrictedSize ? nlohmann::json(*restrictedSize) : nlohmann::json();
  settings["block"] = block;
  settings["offset"] = offset;
  settings["length"] = length ? nlohmann::json(*length) : nlohmann::json();
  settings["hash"] = hashName;
  settings["format"] = ReportFormatName(format);
  settings["source-format"] = sourceFormat;
  settings["partition"] = partition ? nlohmann::json(*partition) : nlohmann::json();
  settings["unallocated"] = unallocated;
  if (mode == Mode::kCarve) {
    settings["output"] = outputDir;
    settings["report"] = reportPath;
  } else {
    settings["output"] = reportPath;
  }
  return settings;
}

bool RunOptions::AdoptSettings(const nlohmann::json& saved, std::string* error) {
  nlohmann::json mine = Settings();
  for (auto it = saved.begin(); it != saved.end(); ++it) {
    if (given.count(it.key()) && mine.contains(it.key()) && mine[it.key()] != it.value()) {
      *error = "--" + it.key() + " differs from the saved run (" +
               it.value().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
               "); omit it or give the same value when resuming";
      return false;
    }
  }
  auto text = [&](const char* key) { return saved.value(key, std::string()); };
  try {
    types = saved.value("types", std::vector<std::string>());
    maxSizes = saved.value("max-size", std::vector<std::string>());
    restrictedSize = saved.contains("restricted-size") && saved["restricted-size"].is_number()
                         ? std::optional<uint64_t>(saved["restricted-size"].get<uint64_t>())
                         : std::nullopt;
    block = saved.value("block", uint32_t{512});
    offset = saved.value("offset", uint64_t{0});
    length = saved.contains("length") && saved["length"].is_number()
                 ? std::optional<uint64_t>(saved["length"].get<uint64_t>())
                 : std::nullopt;
    hashName = text("hash");
    sourceFormat = saved.value("source-format", std::string("auto"));
    partition = saved.contains("partition") && saved["partition"].is_number()
                    ? std::optional<unsigned>(saved["partition"].get<unsigned>())
                    : std::nullopt;
    unallocated = saved.value("unallocated", false);
    if (!ParseReportFormat(saved.value("format", std::string("jsonl")), &format)) format = ReportFormat::kJsonLines;
    if (mode == Mode::kCarve) {
      outputDir = text("output");
      reportPath = text("report");
    } else {
      reportPath = text("output");
    }
  } catch (const nlohmann::json::exception&) {
    *error = "the state file's settings are damaged";
    return false;
  }
  return true;
}

std::string RunOptions::DefaultStatePath() const {
  if (mode == Mode::kCarve) return outputDir + "/.typerecovery-state";
  if (!reportPath.empty() && reportPath != "-") return reportPath + ".typerecovery-state";
  return ".typerecovery-state";
}

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
  nlohmann::json extensions = nlohmann::json::object();
  for (const auto& entry : byExtension) {
    const ExtensionStats& s = entry.second;
    extensions[entry.first] = {s.files, s.complete, s.cut, s.bytes, s.dropped};
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
    nlohmann::json extensions = json.value("extensions", nlohmann::json::object());
    for (auto& item : extensions.items()) {
      const nlohmann::json& v = item.value();
      if (!v.is_array() || v.size() != 5) continue;
      stats.byExtension[item.key()] = {v[0].get<uint64_t>(), v[1].get<uint64_t>(), v[2].get<uint64_t>(),
                                       v[3].get<uint64_t>(), v[4].get<uint64_t>()};
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
  for (const auto& entry : stats.byExtension) {
    const ExtensionStats& s = entry.second;
    dropped += s.dropped;
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
    std::snprintf(line, sizeof line, "%" PRIu64 " more found file(s) were larger than --restricted-size and not kept\n",
                  dropped);
    out += line;
  }
  std::snprintf(line, sizeof line, "scanned %s in %.2f s (%.1f MB/s)%s\n", FormatBytes(stats.bytesScanned).c_str(),
                stats.seconds, Throughput(stats.bytesScanned, stats.seconds),
                stats.sessions > 1 ? (", over " + std::to_string(stats.sessions) + " sessions").c_str() : "");
  out += line;
  if (!outputDir.empty()) out += "output: " + EscapeInvalidUtf8(outputDir) + "\n";
  return out;
}

bool IsValidBlock(uint64_t block) {
  return block >= 512 && block <= (1u << 20) && (block & (block - 1)) == 0;
}

int ExecuteRun(RunOptions options) {
  Run run(std::move(options));
  return run.Execute();
}

}  // namespace trcli
