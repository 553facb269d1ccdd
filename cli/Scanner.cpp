// Set-up of a carve or scan: the output's lock, the options checked, the
// source opened, the output folder with its audit record and the report
// opened, the managers made (also the workers' for many cores); then the
// loop runs. The resume checks it calls are in ScannerState.cpp.
#include "ScannerRun.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "EvidenceSource.h"
#include "ExitCodes.h"
#include "Hasher.h"
#include "Platform.h"
#include "Text.h"

namespace trcli {
namespace scanner {
namespace {

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

}  // namespace

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool OutputLock::Acquire(const std::string& path, const std::string& what, const std::string& commandLine,
                         std::string* error) {
  m_fd = platform::CreateForUpdate(path, false);
  if (m_fd < 0) {
    *error = "cannot create the lock file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!platform::TryLock(m_fd)) {
    char holder[512] = {};
    long long got = platform::ReadAt(m_fd, holder, sizeof holder - 1, 0);
    std::string who = got > 0 ? std::string(holder, static_cast<size_t>(got)) : "an unknown process";
    while (!who.empty() && who.back() == '\n') who.pop_back();
    *error = what + " is in use by another run (" + who + "); wait for it to end or choose another output";
    platform::Close(m_fd);
    m_fd = -1;
    return false;
  }
  m_path = path;
  std::string text = "pid " + std::to_string(platform::ProcessId()) + ", started " + UtcNow() + ": " + commandLine + "\n";
  // The lock holds even where the note cannot be written.
  if (platform::Truncate(m_fd, 0)) PwriteAll(m_fd, text.data(), text.size(), 0);
  return true;
}

void OutputLock::Release() {
  if (m_fd < 0) return;
  platform::RemoveFile(m_path);
  platform::Close(m_fd);
  m_fd = -1;
}

int Run::Execute() {
  // Stop requests are taken from the start: one that comes during the set-up
  // (the output already locked) stops the run at its first strip, with its
  // state saved, instead of ending the process with the lock file left and
  // an exit status that claims a saved state.
  platform::StopRequests stopRequests;
  int status = kExitOk;
  try {
    status = Prepare();
  } catch (const nlohmann::json::exception& e) {
    // The state file's fields are checked before use; this is the last net.
    Message("damaged state file " + m_statePath + " (" + e.what() + "); nothing was changed");
    status = kExitState;
  }
  if (status != kExitOk) {
    if (m_auditFd >= 0) platform::Close(m_auditFd);
    return status;
  }
  status = Loop();
  if (m_report != nullptr && !m_reportIsStdout) {
    if (std::fclose(m_report) != 0 && status == kExitOk) {
      Message("cannot write the report " + m_options.reportPath + ": " + std::strerror(errno));
      status = kExitOutput;
    }
  } else if (m_report != nullptr && std::fflush(m_report) != 0 && status == kExitOk) {
    Message("cannot write the report to standard output: " + std::string(std::strerror(errno)));
    status = kExitOutput;
  }
  m_report = nullptr;
  if (m_auditFd >= 0) platform::Close(m_auditFd);
  m_auditFd = -1;
  if (m_journalFd >= 0) platform::Close(m_journalFd);
  m_journalFd = -1;
  return status;
}

ReportContext Run::RunContext() const {
  ReportContext context;
  context.sourcePath = m_options.source;
  context.hashName = m_options.hashName;
  context.commandLine = m_options.commandLine;
  context.startTime = m_startTime;
  return context;
}

int Run::PrepareCarveFolder(bool resuming, const nlohmann::json* savedInfo) {
  std::string error;
  if (!platform::MakeFolders(m_options.outputDir)) {
    Message("cannot create the output folder " + m_options.outputDir + ": " + std::strerror(errno));
    return kExitOutput;
  }
  if (!ProbeWritable(m_options.outputDir, &error)) {
    Message("cannot write in the output folder " + m_options.outputDir + ": " + error);
    return kExitOutput;
  }
  auto exists = [&](const std::string& name) {
    return platform::PathExists(m_options.outputDir + "/" + name);
  };
  if (resuming) {
    m_auditName = savedInfo->value("audit_name", std::string("report"));
  } else if (exists("report.xml") || exists("report.json")) {
    if (!m_options.append) {
      Message("the output folder " + m_options.outputDir +
              " already holds a carve (report.xml); choose a new folder, or give --append to add this "
              "run's files beside it (they get the next free numbers and their own report-N.xml)");
      return kExitUsage;
    }
    for (int n = 2;; ++n) {
      m_auditName = "report-" + std::to_string(n);
      if (!exists(m_auditName + ".xml") && !exists(m_auditName + ".json")) break;
    }
  }
  ReportContext context = RunContext();
  context.carve = true;
  m_auditWriter = MakeReportWriter(ReportFormat::kDfxml, context);
  std::string path = m_options.outputDir + "/" + m_auditName + ".xml";
  if (resuming) {
    m_auditEnd = savedInfo->value("audit_length", uint64_t{0});
    m_auditFd = platform::OpenForUpdate(path);
    uint64_t length = 0;
    if (m_auditFd < 0 || !platform::FileSize(m_auditFd, &length) || length < m_auditEnd) {
      Message("cannot continue the audit record " + path + ": " +
              (m_auditFd < 0 ? std::strerror(errno) : "it is shorter than the saved state says"));
      return kExitState;
    }
  } else {
    m_auditFd = platform::CreateForUpdate(path, true);
    std::string header = m_auditWriter->Header();
    if (m_auditFd < 0 || !PwriteAll(m_auditFd, header.data(), header.size(), 0)) {
      Message("cannot write the audit record " + path + ": " + std::strerror(errno));
      return kExitOutput;
    }
    m_auditEnd = header.size();
    if (!UpdateAuditFooter(RunEnd{"running", "", "", false})) {
      Message("cannot write the audit record " + path + ": " + std::strerror(errno));
      return kExitOutput;
    }
  }
  std::u16string root = PathToUtf16(m_options.outputDir);
  m_manager.reset(TypeRecovery_CreateManager(0, nullptr, root.c_str()));
  if (!m_manager) {
    Message("the library refused the output folder " + m_options.outputDir);
    return kExitInternal;
  }
  TypeRecovery_SetFileClosedCallback(m_manager.get(), &TRClosed, reinterpret_cast<uintptr_t>(this));
  if (m_options.restrictedSize) TypeRecovery_SetRestrictedSize(m_manager.get(), *m_options.restrictedSize);
  return kExitOk;
}

int Run::Prepare() {
  std::string error;
  m_startTime = UtcNow();
  m_statePath = m_options.statePath.empty() ? m_options.DefaultStatePath() : m_options.statePath;
  // A report on standard output cannot be continued: such a scan keeps no
  // state unless a state file is named.
  m_keepsState = !(m_options.mode == RunOptions::Mode::kScan && m_options.statePath.empty() &&
                   (m_options.reportPath.empty() || m_options.reportPath == "-"));
  if (!m_keepsState) m_options.autosaveSeconds = 0;

  if (m_options.mode == RunOptions::Mode::kCarve) {
    if (!platform::MakeFolders(m_options.outputDir)) {
      Message("cannot create the output folder " + m_options.outputDir + ": " + std::strerror(errno));
      return kExitOutput;
    }
    if (!m_lock.Acquire(m_options.outputDir + "/.typerecovery-lock", "the output folder " + m_options.outputDir,
                        m_options.commandLine, &error)) {
      Message(error);
      return kExitOutput;
    }
  } else if (!m_options.reportPath.empty() && m_options.reportPath != "-") {
    if (!m_lock.Acquire(m_options.reportPath + ".typerecovery-lock", "the report " + m_options.reportPath,
                        m_options.commandLine, &error)) {
      Message(error);
      return kExitOutput;
    }
  }

  std::unique_ptr<StateReader> state;
  int checked = OpenState(&state);
  if (checked != kExitOk) return checked;

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
  if (m_options.mode == RunOptions::Mode::kScan && !m_options.hashName.empty() && !m_reader.Seekable()) {
    Message("--hash reads found files back from the source, so it needs a file or device, not a stream");
    return kExitUsage;
  }

  if (m_options.mode == RunOptions::Mode::kCarve) {
    int status = PrepareCarveFolder(state != nullptr, state ? &state->Info() : nullptr);
    if (status != kExitOk) return status;
  } else {
    m_manager.reset(TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(this), &TRFound, nullptr));
    if (!m_manager) {
      Message("the library could not create a manager");
      return kExitInternal;
    }
  }
  m_selection.ApplyTo(m_manager.get());
  if (m_options.mode == RunOptions::Mode::kScan && m_options.restrictedSize)
    TypeRecovery_SetRestrictedSize(m_manager.get(), *m_options.restrictedSize);

  if (state) {
    int resumed = ResumeFromState(*state);
    if (resumed != kExitOk) return resumed;
  }

  if (m_options.mode == RunOptions::Mode::kCarve) {
    if (state ? !RestoreCarveFolder(state->Info(), &error) : false) {
      Message(error);
      return kExitState;
    }
    if (m_journalFd < 0) m_journalFd = platform::CreateForUpdate(JournalPath(), true);
    if (m_options.dedup &&
        !m_duplicates.Open(DigestsPath(), state ? state->Info().value("digests_length", uint64_t{0}) : 0, &error)) {
      Message(error);
      return state ? kExitState : kExitOutput;
    }
  }
  if (!OpenReport(&error)) {
    Message(error);
    return kExitOutput;
  }
  // A resumed audit loses what was written after the saved state; those
  // records come again.
  if (state && m_auditFd >= 0 && !UpdateAuditFooter(RunEnd{"running", "", "", false})) {
    Message("cannot continue the audit record in " + m_options.outputDir + ": " + std::strerror(errno));
    return kExitOutput;
  }
  // Records a failed write kept back go out first, in their order.
  std::vector<FoundFile> unwritten;
  unwritten.swap(m_unwritten);
  for (const FoundFile& file : unwritten) WriteRecord(file);
  ++m_stats.sessions;
  WriteSummary("running", "");
  return kExitOk;
}

bool Run::OpenReport(std::string* error) {
  bool wanted = m_options.mode == RunOptions::Mode::kScan || !m_options.reportPath.empty();
  if (!wanted) return true;
  ReportContext context = RunContext();
  context.carve = m_options.mode == RunOptions::Mode::kCarve;
  context.pieced = m_freeSpace != nullptr;
  context.dedup = context.carve && m_options.dedup;
  m_writer = MakeReportWriter(m_options.format, context);
  m_reportIsStdout = m_options.reportPath.empty() || m_options.reportPath == "-";
  std::string header = m_writer->Header();
  if (m_reportIsStdout) {
    m_report = stdout;
  } else if (m_options.resume) {
    // Cut the report back to what the saved state had written, then append.
    int fd = platform::OpenForUpdate(m_options.reportPath);
    uint64_t length = 0;
    if (fd < 0 || !platform::FileSize(fd, &length) || length < m_resumedReportLength ||
        !platform::Truncate(fd, m_resumedReportLength) || !platform::SeekToEnd(fd)) {
      *error = "cannot continue the report " + m_options.reportPath + ": " +
               (fd >= 0 && errno == 0 ? "it is shorter than the saved state says" : std::strerror(errno));
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
  if (!header.empty() && (std::fwrite(header.data(), 1, header.size(), m_report) != header.size() ||
                          (!m_reportIsStdout && std::fflush(m_report) != 0))) {
    *error = "cannot write the report " + m_options.reportPath + ": " + std::strerror(errno);
    return false;
  }
  m_reportLength = m_options.resume ? m_resumedReportLength : header.size();
  return true;
}

CTypeRecoveryManager* Run::NewWorkerManager(const std::string& root, uintptr_t user, TypeRecoveryFoundFileFn found,
                                            TypeRecoveryFileClosedFn closed) {
  const bool carve = m_options.mode == RunOptions::Mode::kCarve;
  std::u16string wideRoot = Utf8ToUtf16(root);
  CTypeRecoveryManager* manager =
      carve ? TypeRecovery_CreateManager(0, nullptr, wideRoot.c_str()) : TypeRecovery_CreateManager(user, found, nullptr);
  if (manager == nullptr) return nullptr;
  if (carve) TypeRecovery_SetFileClosedCallback(manager, closed, user);
  m_selection.ApplyTo(manager);
  if (m_options.restrictedSize) TypeRecovery_SetRestrictedSize(manager, *m_options.restrictedSize);
  for (const auto& used : m_usedNumbers) TypeRecovery_NoteUsedFileNumber(manager, used.first.c_str(), used.second);
  return manager;
}

bool Run::OpenWorkerReader(SourceReader* reader, uint64_t from, std::string* error) {
  if (!reader->Open(m_options.source, from, *m_reader.End() - from, error)) return false;
  reader->SetGeometry(m_options.block, m_options.chunk, m_options.lookahead);
  reader->SetStopFlag(platform::StopRequests::Flag());
  return true;
}

}  // namespace scanner

bool ParseResolution(const std::string& text, uint32_t* width, uint32_t* height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size() || x > 6 || text.size() - x - 1 > 6) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != x && (text[i] < '0' || text[i] > '9')) return false;
  *width = static_cast<uint32_t>(std::stoul(text.substr(0, x)));
  *height = static_cast<uint32_t>(std::stoul(text.substr(x + 1)));
  return *width != 0 && *height != 0;
}

bool IsValidBlock(uint64_t block) {
  return block >= 512 && block <= (1u << 20) && (block & (block - 1)) == 0;
}

int ExecuteRun(RunOptions options) {
  scanner::Run run(std::move(options));
  return run.Execute();
}

}  // namespace trcli
