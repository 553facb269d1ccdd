// The run behind `carve` and `scan` (ExecuteRun in Scanner.h), shared by the
// files that make it up:
//   Scanner.cpp         set-up: options, the source, the output folder and
//                       its lock, the report, the managers;
//   ScannerState.cpp    the state file: resume checks (saved settings, the
//                       source's identity, the carve folder put back) and saves;
//   ScannerLoop.cpp     the strip loop, on one core or many, and autosave;
//   ScannerRecords.cpp  found and closed files: filters, source order,
//                       digests, --dedup and --set-mtime, the records written;
//   ScannerSummary.cpp  statistics, the audit's footer, the run summary, and
//                       how a run finishes or stops.
// Internal to the tool: only those files include it.
#ifndef TYPERECOVERY_CLI_SCANNERRUN_H
#define TYPERECOVERY_CLI_SCANNERRUN_H

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Duplicates.h"
#include "MediaMap.h"
#include "Message.h"
#include "Parallel.h"
#include "ReportWriter.h"
#include "Scanner.h"
#include "SourceReader.h"
#include "StateFile.h"
#include "TypeCatalog.h"
#include "typerecovery.h"

namespace trcli {
namespace scanner {

double Now();
// Why writing below a folder fails, in words: a full disk or the error a
// fresh file there gets.
std::string WhyUnwritable(const std::string& folder);
// A path the library gives, with the separators of the files on disk.
std::string OnDisk(std::string libraryPath);

// The library's callbacks; userValue is the Run.
uint32_t TRFound(uintptr_t userValue, uint32_t typeFolderValue, uint32_t*, const char16_t* extension,
                 uint64_t fileStart, uint64_t size, uint32_t complete, const tag_PictureInfo* picture);
void TRClosed(uintptr_t userValue, const tag_ClosedFileInfo* info);

// One run per output at a time: an advisory lock on a small file beside
// the output that also says who holds it. The kernel releases the lock when
// the process ends, however it ends.
class OutputLock {
 public:
  ~OutputLock() { Release(); }
  // False with a message naming the holder when another run has it.
  bool Acquire(const std::string& path, const std::string& what, const std::string& commandLine, std::string* error);
  void Release();

 private:
  int m_fd = -1;
  std::string m_path;
};

struct ManagerDeleter {
  void operator()(CTypeRecoveryManager* manager) const { TypeRecovery_CloseManager(manager); }
};
using ManagerPtr = std::unique_ptr<CTypeRecoveryManager, ManagerDeleter>;

// One carve or scan, from its set-up to its end.
class Run : public ParallelHost {
 public:
  explicit Run(RunOptions options) : m_options(std::move(options)) {}
  int Execute();

  // Library callbacks.
  void OnFound(const char16_t* extension, uint64_t fileStart, uint64_t size, uint32_t complete,
               const tag_PictureInfo* picture);
  void OnClosed(const tag_ClosedFileInfo& info);

  // Many cores (Parallel.h): the workers' managers and readers, and their
  // joined results.
  CTypeRecoveryManager* NewWorkerManager(const std::string& root, uintptr_t user, TypeRecoveryFoundFileFn found,
                                         TypeRecoveryFileClosedFn closed) override;
  bool OpenWorkerReader(SourceReader* reader, uint64_t from, std::string* error) override;
  void JoinFound(const char16_t* extension, uint64_t fileStart, uint64_t size, uint32_t complete,
                 const tag_PictureInfo* picture) override {
    OnFound(extension, fileStart, size, complete, picture);
  }
  void JoinClosed(const tag_ClosedFileInfo& info) override { OnClosed(info); }
  void JoinFaults(uint64_t count) override { m_stats.faults += count; }
  void JoinStripEnd(uint64_t next, std::optional<uint64_t> oldest) override {
    if (!m_pending.empty()) EmitReady(next, false, &oldest);
  }

 private:
  int Prepare();
  // Resume checks: the state file of an earlier run, opened and matched
  // against this command (opened stays empty when the run starts afresh),
  // then, once the manager exists, the source matched against the saved
  // one and the manager, reader and records put back where they stood.
  int OpenState(std::unique_ptr<StateReader>* opened);
  int ResumeFromState(const StateReader& state);
  int PrepareCarveFolder(bool resuming, const nlohmann::json* savedInfo);
  int Loop();
  // The loop on many cores, when the source and the run allow it.
  bool ParallelFits() const;
  // continuing: after strips of this session analysed on one core.
  int ParallelLoop(bool continuing);
  bool m_joining = false;  // the results come from the workers
  bool m_oneCore = false;  // back on one core after many
  int Finish();
  bool SaveState(uint64_t position, std::string* error);
  // Saves the state after a stop and tells how to go on; answers exitCode
  // when the state was saved, else the status of an unsaved stop.
  int StopWithState(uint64_t position, int exitCode, const std::string& why);
  std::string ResumeCommand() const;
  // What a stopped run found so far, before the message that tells how to go on.
  void PrintStopSummary(uint64_t position);
  bool OpenReport(std::string* error);
  // What the report and the audit say of the run in their headers.
  ReportContext RunContext() const;
  void SessionTime();

  // The user's filters; "" when the file passes, else the reason.
  std::string FilterOut(const FoundFile& file) const;
  // Queues a record; EmitReady hands on those that can no longer be
  // preceded by a file still open.
  void Queue(FoundFile file);
  // oldest: the oldest file still followed, when not the manager's to tell.
  void EmitReady(uint64_t nextPosition, bool all, const std::optional<uint64_t>* oldest = nullptr);
  void Emit(FoundFile file);
  bool WriteRecord(const FoundFile& file);
  // The audit files of a carve.
  bool WriteSummary(const std::string& status, const std::string& detail);
  bool UpdateAuditFooter(const RunEnd& end);

  RunOptions m_options;
  OutputLock m_lock;
  TypeCatalog m_catalog;
  TypeSelection m_selection;
  SourceReader m_reader;
  std::string m_statePath;
  bool m_keepsState = true;
  ManagerPtr m_manager;
  RunStats m_stats;
  std::unique_ptr<ReportWriter> m_writer;
  FILE* m_report = nullptr;
  bool m_reportIsStdout = false;
  bool m_writeFailed = false;
  std::string m_writeFailure;
  uint64_t m_resumedReportLength = 0;
  // Bytes of the report file that hold whole records (a resume cuts it back
  // to this), and the records a failed write kept from the outputs: they
  // wait in the saved state, and a resume writes them first.
  uint64_t m_reportLength = 0;
  std::vector<FoundFile> m_unwritten;
  double m_sessionStart = 0;    // for this session's rate
  double m_accountedUntil = 0;  // time up to here is in m_stats.seconds
  uint64_t m_sessionStartPosition = 0;
  std::string m_startTime;
  std::multimap<std::pair<uint64_t, uint64_t>, FoundFile> m_pending;
  uint64_t m_sequence = 0;
  // Carve: the audit record (DFXML) and the run summary (JSON).
  std::string m_auditName = "report";
  std::unique_ptr<ReportWriter> m_auditWriter;
  int m_auditFd = -1;
  uint64_t m_auditEnd = 0;  // where the next record goes; the footer follows it
  std::string m_auditFooter;
  // Carve: a journal of the files closed and kept, one path per line, so
  // that a resume can tell the files closed after the saved state.
  int m_journalFd = -1;
  bool m_lostWrites = false;  // a write of the library failed in this strip
  // Files closed short by a full disk, written again from the source on resume.
  struct Damaged {
    std::string path;
    uint64_t streamStart, leadIn, size;
  };
  std::vector<Damaged> m_damaged;
  // Files continued after a stop, by their path below the output folder;
  // in a scan, files that begin before the position it went on from.
  std::set<std::string> m_continued;
  uint64_t m_resumedAt = 0;
  // Files short of bytes a full disk lost, where the source is a stream and
  // cannot be read again to write them: their records say incomplete.
  std::set<std::string> m_incomplete;
  uint64_t m_journalEnd = 0;
  std::string JournalPath() const { return m_options.outputDir + "/.typerecovery-journal"; }
  // Resume of a carve: puts the folder back as it was at the saved state and
  // hands the library its files in progress again.
  bool RestoreCarveFolder(const nlohmann::json& info, std::string* error);
  std::shared_ptr<const MediaMap> m_freeSpace;
  std::vector<std::string> m_sourceNotes;
  // The last save of this session and where it stood.
  double m_lastSave = 0;
  uint64_t m_lastSavePosition = 0;
  // Saves the state when it is due (or, before the source makes the run
  // wait, as soon as there is anything new to save).
  void Autosave(uint64_t position, bool beforeWait);
  // How a run ended, with the regions of the source read as zeros (in the
  // media, for a free-space scan).
  RunEnd Ended(RunEnd end) const;
  // Those regions in words, for the summary and the closing message.
  std::string UnreadableText() const;
  // Recognizer calls that failed over all sessions, and that in words.
  uint64_t Faults() const;
  std::string FaultsText() const;
  // Numbers a resumed carve told the library were used, for workers' managers.
  std::vector<std::pair<std::u16string, uint32_t>> m_usedNumbers;
  // Carve: what --dedup and --set-mtime do with a written file before its
  // record goes out; false when the file was a duplicate and is gone.
  bool KeepWritten(FoundFile& file, bool damaged);
  DuplicateIndex m_duplicates;
  std::string DigestsPath() const { return m_options.outputDir + "/.typerecovery-digests"; }
};

}  // namespace scanner
}  // namespace trcli

#endif
