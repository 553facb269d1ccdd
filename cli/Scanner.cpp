#include "Scanner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>

#include "Duplicates.h"
#include "EvidenceSource.h"
#include "ExitCodes.h"
#include "Hasher.h"
#include "Parallel.h"
#include "PhotoDates.h"
#include "Platform.h"
#include "ProgressMeter.h"
#include "Sizes.h"
#include "SourceReader.h"
#include "StateFile.h"
#include "Text.h"
#include "TypeCatalog.h"
#include "WrittenPicture.h"
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

// One run per output at a time: an advisory lock on a small file beside
// the output that also says who holds it. The kernel releases the lock when
// the process ends, however it ends.
class OutputLock {
 public:
  ~OutputLock() { Release(); }
  // False with a message naming the holder when another run has it.
  bool Acquire(const std::string& path, const std::string& what, const std::string& commandLine, std::string* error) {
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
  void Release() {
    if (m_fd < 0) return;
    platform::RemoveFile(m_path);
    platform::Close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd = -1;
  std::string m_path;
};

struct ManagerDeleter {
  void operator()(CTypeRecoveryManager* manager) const { TypeRecovery_CloseManager(manager); }
};
using ManagerPtr = std::unique_ptr<CTypeRecoveryManager, ManagerDeleter>;

std::string PrefixDigest(const std::vector<uint8_t>& prefix, size_t length) {
  auto digest = HashBytes(prefix.data(), length, "sha256");
  return digest ? *digest : "";
}

// Records wait here until no file still being followed can begin before
// them, then go out in source order. A file that ends later never begins
// before one that is still open; the slack covers formats that report a
// start a little before the strip where they were recognised (a disc
// image's system area).
constexpr uint64_t kOrderSlack = 64u << 10;

nlohmann::json RecordToJson(const FoundFile& file) {
  nlohmann::json json = {{"offset", file.offset}, {"size", file.size},     {"type", file.typeCode},
                         {"ext", file.extension}, {"complete", file.complete}, {"path", file.path},
                         {"lead_in", file.leadIn}, {"stream", file.streamStart}};
  if (!file.hash.empty()) json["hash"] = file.hash;
  if (file.zeroFilled) json["zero_filled"] = true;
  if (!file.pieces.empty()) {
    json["pieces"] = nlohmann::json::array();
    for (const MediaRun& run : file.pieces) json["pieces"].push_back({run.offset, run.length});
  }
  if (file.picture) {
    const PictureData& p = *file.picture;
    json["picture"] = {p.typeCode, p.width,  p.height,   p.software,    p.exifVersion, p.make,   p.model,
                       p.dateTimeOriginal, p.dateTime, p.latitudeRef, p.longitudeRef, p.altitudeRef,
                       p.latitude, p.longitude, p.altitude};
  }
  return json;
}

// Throws nlohmann::json::exception on a record of the wrong shape.
FoundFile RecordFromJson(const nlohmann::json& json) {
  FoundFile file;
  file.offset = json.at("offset").get<uint64_t>();
  file.size = json.at("size").get<uint64_t>();
  file.typeCode = json.at("type").get<uint32_t>();
  file.extension = json.at("ext").get<std::string>();
  file.complete = json.at("complete").get<bool>();
  file.path = json.at("path").get<std::string>();
  file.leadIn = json.at("lead_in").get<uint64_t>();
  file.streamStart = json.at("stream").get<uint64_t>();
  file.hash = json.value("hash", std::string());
  file.zeroFilled = json.value("zero_filled", false);
  for (const nlohmann::json& run : json.value("pieces", nlohmann::json::array()))
    file.pieces.push_back({run.at(0).get<uint64_t>(), run.at(1).get<uint64_t>()});
  if (json.contains("picture")) {
    const nlohmann::json& a = json.at("picture");
    PictureData p;
    p.typeCode = a.at(0).get<uint32_t>();
    p.width = a.at(1).get<uint32_t>();
    p.height = a.at(2).get<uint32_t>();
    p.software = a.at(3).get<std::string>();
    p.exifVersion = a.at(4).get<std::string>();
    p.make = a.at(5).get<std::string>();
    p.model = a.at(6).get<std::string>();
    p.dateTimeOriginal = a.at(7).get<std::string>();
    p.dateTime = a.at(8).get<std::string>();
    p.latitudeRef = a.at(9).get<std::string>();
    p.longitudeRef = a.at(10).get<std::string>();
    p.altitudeRef = a.at(11).get<std::string>();
    p.latitude = a.at(12).get<double>();
    p.longitude = a.at(13).get<double>();
    p.altitude = a.at(14).get<double>();
    file.picture = p;
  }
  return file;
}

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
  void JoinStripEnd(uint64_t next, std::optional<uint64_t> oldest) override {
    if (!m_pending.empty()) EmitReady(next, false, &oldest);
  }

 private:
  int Prepare();
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
  // Numbers a resumed carve told the library were used, for workers' managers.
  std::vector<std::pair<std::u16string, uint32_t>> m_usedNumbers;
  // Carve: what --dedup and --set-mtime do with a written file before its
  // record goes out; false when the file was a duplicate and is gone.
  bool KeepWritten(FoundFile& file, bool damaged);
  DuplicateIndex m_duplicates;
  std::string DigestsPath() const { return m_options.outputDir + "/.typerecovery-digests"; }
};

struct OpenFile {
  std::string path;  // below the output folder, as the library names it
  uint32_t typeCode;
  uint64_t fileStart, size;
  TypeRecoveryFile handle;
};

void TRListOpen(uintptr_t userValue, const char16_t* path, uint32_t typeCode, uint64_t fileStart, uint64_t size,
                TypeRecoveryFile file) {
  reinterpret_cast<std::vector<OpenFile>*>(userValue)->push_back({Utf16ToUtf8(path), typeCode, fileStart, size, file});
}

std::string OnDisk(std::string libraryPath) {
  std::replace(libraryPath.begin(), libraryPath.end(), '\\', '/');
  return libraryPath;
}

uint32_t TRFound(uintptr_t userValue, uint32_t typeFolderValue, uint32_t*, const char16_t* extension,
                 uint64_t fileStart, uint64_t size, uint32_t complete, const tag_PictureInfo* picture) {
  reinterpret_cast<Run*>(userValue)->OnFound(extension, fileStart, size, complete, picture);
  return typeFolderValue;
}

void TRClosed(uintptr_t userValue, const tag_ClosedFileInfo* info) {
  if (info != nullptr) reinterpret_cast<Run*>(userValue)->OnClosed(*info);
}

int Run::Execute() {
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
  platform::StopRequests stopRequests;
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

bool Run::RestoreCarveFolder(const nlohmann::json& info, std::string* error) {
  std::error_code leftOver;  // the unjoined files of a parallel run that was killed
  std::filesystem::remove_all(m_options.outputDir + "/.typerecovery-parts", leftOver);
  // Files closed after the saved state are written again, under the same
  // names: remove them first. The journal names them.
  const uint64_t journalLength = info.value("journal_length", uint64_t{0});
  m_journalFd = platform::OpenForUpdate(JournalPath());
  std::string journal;
  if (m_journalFd >= 0) {
    uint64_t length = 0;
    if (platform::FileSize(m_journalFd, &length)) {
      journal.resize(static_cast<size_t>(length));
      if (!PreadAll(m_journalFd, journal.data(), journal.size(), 0)) journal.clear();
    }
  }
  if (journal.size() < journalLength) {
    *error = "cannot continue: the journal " + JournalPath() + " is shorter than the saved state says";
    return false;
  }
  std::set<std::string> known;
  std::vector<OpenFile> open;
  for (const nlohmann::json& file : info.value("open_files", nlohmann::json::array())) {
    open.push_back({file.at("path").get<std::string>(), file.at("type").get<uint32_t>(),
                    file.at("start").get<uint64_t>(), file.at("size").get<uint64_t>(), TYPERECOVERY_INVALID_FILE});
    known.insert(OnDisk(open.back().path));
  }
  const std::set<std::string> continued = known;
  m_continued = continued;
  for (const nlohmann::json& path : info.value("incomplete_files", nlohmann::json::array()))
    m_incomplete.insert(path.get<std::string>());
  // Files whose records a full disk kept back, or that were still waiting
  // for their turn in the records, are kept, even where the journal could
  // not name them.
  for (const char* list : {"unwritten", "pending"})
    for (const nlohmann::json& record : info.value(list, nlohmann::json::array()))
      if (record.is_object() && record.contains("path") && record["path"].is_string())
        known.insert(record["path"].get<std::string>());
  for (const std::string& path : SplitList(journal.substr(0, static_cast<size_t>(journalLength)), "\n"))
    known.insert(path);
  for (const std::string& path : SplitList(journal.substr(static_cast<size_t>(journalLength)), "\n"))
    if (path.find("..") == std::string::npos && !continued.count(path))
      platform::RemoveFile(m_options.outputDir + "/" + path);
  if (m_journalFd >= 0 && !platform::Truncate(m_journalFd, journalLength)) {
    *error = "cannot continue the journal " + JournalPath() + ": " + std::strerror(errno);
    return false;
  }
  m_journalEnd = journalLength;

  // Files begun after the saved state and not closed before the stop are
  // nobody's: in a folder of this run alone, every numbered file in a type
  // folder is known by now, and the others go.
  if (!m_options.append && m_auditName == "report") {
    std::error_code failed;
    for (const auto& folder : std::filesystem::directory_iterator(m_options.outputDir, failed)) {
      if (!folder.is_directory()) continue;
      for (const auto& entry : std::filesystem::directory_iterator(folder.path(), failed)) {
        std::string relative = folder.path().filename().string() + "/" + entry.path().filename().string();
        if (entry.is_regular_file() && !known.count(relative)) platform::RemoveFile(entry.path().u8string());
      }
    }
  }
  // Files a full disk left short are written again from the source.
  for (const nlohmann::json& d : info.value("damaged_files", nlohmann::json::array())) {
    const std::string path = m_options.outputDir + "/" + d.at("path").get<std::string>();
    const uint64_t leadIn = d.at("lead_in").get<uint64_t>(), size = d.at("size").get<uint64_t>();
    const uint64_t start = d.at("start").get<uint64_t>();
    int fd = d.at("path").get<std::string>().find("..") == std::string::npos && m_reader.Seekable()
                 ? platform::OpenForWriting(path)
                 : -1;
    std::vector<uint8_t> bytes(1u << 20, 0);
    bool ok = fd >= 0;
    for (uint64_t done = 0; ok && done < size;) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(bytes.size(), size - done));
      if (done < leadIn) {
        want = static_cast<size_t>(std::min<uint64_t>(want, leadIn - done));
        std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(want), 0);
      } else {
        ok = m_reader.ReadAt(start + (done - leadIn), bytes.data(), want);
      }
      ok = ok && PwriteAll(fd, bytes.data(), want, done);
      done += want;
    }
    if (fd >= 0) platform::Close(fd);
    if (!ok) {
      *error = "cannot write " + path + " again from the source (a full disk left it short)";
      return false;
    }
  }
  // File numbers go on from those used, as in an uninterrupted run.
  for (const std::string& path : known) {
    size_t slash = path.find('/'), dot = path.rfind('.');
    if (slash == std::string::npos || dot == std::string::npos || dot < slash) continue;
    std::string digits = path.substr(slash + 1, dot - slash - 1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    std::u16string extension = Utf8ToUtf16(path.substr(dot + 1));
    TypeRecovery_NoteUsedFileNumber(m_manager.get(), extension.c_str(), static_cast<uint32_t>(std::stoul(digits)));
    m_usedNumbers.emplace_back(extension, static_cast<uint32_t>(std::stoul(digits)));
  }
  // The files being written at the saved state go on where they stood.
  for (const OpenFile& file : open) {
    std::string path = m_options.outputDir + "/" + OnDisk(file.path);
    int fd = platform::OpenForUpdate(path);
    if (fd < 0 && errno == ENOENT && m_reader.Seekable()) {
      // Renamed into its type's folder when it closed after the save, and
      // removed above: its bytes so far are the source's, written again.
      std::vector<uint8_t> bytes(1u << 20);
      platform::MakeFolders(path.substr(0, path.rfind('/')));
      fd = platform::CreateForUpdate(path, true);
      for (uint64_t done = 0; fd >= 0 && done < file.size;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(bytes.size(), file.size - done));
        if (!m_reader.ReadAt(file.fileStart + done, bytes.data(), want) || !PwriteAll(fd, bytes.data(), want, done)) {
          platform::Close(fd);
          fd = -1;
          break;
        }
        done += want;
      }
    }
    uint64_t length = 0;
    if (fd >= 0 && platform::FileSize(fd, &length) && length < file.size && m_reader.Seekable()) {
      // Bytes a failed write lost: the source's, written now.
      std::vector<uint8_t> bytes(1u << 20);
      for (uint64_t done = length; done < file.size;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(bytes.size(), file.size - done));
        if (!m_reader.ReadAt(file.fileStart + done, bytes.data(), want) || !PwriteAll(fd, bytes.data(), want, done))
          break;
        done += want;
      }
    }
    if (fd >= 0 && !m_reader.Seekable() && platform::FileSize(fd, &length) && length < file.size) {
      // Bytes a full disk lost, which a stream cannot give again: zeros in
      // their place keep the rest where it belongs, and the file is marked.
      m_incomplete.insert(OnDisk(file.path));
      if (!platform::Truncate(fd, file.size)) {
        platform::Close(fd);
        fd = -1;
      }
    }
    if (fd < 0 || !platform::FileSize(fd, &length) || length < file.size || !platform::Truncate(fd, file.size) ||
        !platform::SeekToEnd(fd)) {
      *error = "cannot continue " + path + ", the file being written at the stop: " +
               (fd < 0 ? std::strerror(errno) : "it is shorter than when the state was saved");
      if (fd >= 0) platform::Close(fd);
      return false;
    }
    std::u16string wide = Utf8ToUtf16(file.path);
    if (TypeRecovery_ReopenOutputFile(m_manager.get(), file.typeCode, file.fileStart, wide.c_str(),
                                      platform::LibraryFile(fd)) == 0) {
      platform::Close(fd);
      *error = "the library did not take back " + path + ", the file being written at the stop";
      return false;
    }
  }
  return true;
}

void Run::OnFound(const char16_t* extension, uint64_t fileStart, uint64_t size, uint32_t complete,
                  const tag_PictureInfo* picture) {
  FoundFile file;
  file.offset = file.streamStart = fileStart;
  file.size = size;
  file.extension = Utf16ToUtf8(extension, 8);
  file.complete = complete != 0;
  if (picture != nullptr && picture->size == sizeof(tag_PictureInfo)) file.picture = FromPictureInfo(*picture);
  if (fileStart < m_resumedAt && m_reader.Seekable()) {
    // Begun before the stop: the recognizer saw only the strips since, and a
    // picture record (or its absence) is made again from all its bytes.
    SourceReader* reader = &m_reader;
    PictureOfBytes(
        [reader](uint64_t position, uint8_t* into, size_t want) { return reader->ReadAt(position, into, want); },
        fileStart, size, file.extension, m_selection, m_options.block, &file.picture);
  }
  file.typeCode = m_catalog.CodeForExtension(file.extension);
  if (file.typeCode == 0 && file.picture) file.typeCode = file.picture->typeCode;
  // A size never runs past the end of the source: what lies beyond is not
  // there, and the file is cut.
  if (m_reader.End() && file.offset + file.size > *m_reader.End()) {
    file.size = file.offset < *m_reader.End() ? *m_reader.End() - file.offset : 0;
    file.complete = false;
  }
  Queue(std::move(file));
}

void Run::OnClosed(const tag_ClosedFileInfo& info) {
  FoundFile file;
  file.extension = Utf16ToUtf8(info.extension, 8);
  // The summary spells an extension as the files and folders are named.
  const std::string& key = file.extension;
  // Numbers used on one core go on in the managers of many.
  if (m_options.jobs > 1 && !m_joining && info.disposition != TYPERECOVERY_FILE_DISCARDED)
    if (std::optional<uint32_t> number = OutputNumber(Utf16ToUtf8(info.path))) m_usedNumbers.emplace_back(info.extension, *number);
  if (m_journalFd >= 0 && info.disposition != TYPERECOVERY_FILE_DISCARDED) {
    // Every number used, kept or not, so that a resume numbers as this run.
    std::string line = OnDisk(Utf16ToUtf8(info.path)) + "\n";
    if (PwriteAll(m_journalFd, line.data(), line.size(), m_journalEnd)) m_journalEnd += line.size();
  }
  if (info.disposition == TYPERECOVERY_FILE_OVERSIZE) {
    ++m_stats.byExtension[key].dropped;
    return;
  }
  if (info.disposition != TYPERECOVERY_FILE_KEPT) return;
  file.path = Utf16ToUtf8(info.path);
  std::replace(file.path.begin(), file.path.end(), '\\', '/');
  file.leadIn = info.leadIn;
  file.offset = info.fileStart >= info.leadIn ? info.fileStart - info.leadIn : info.fileStart;
  if (info.fileStart < info.leadIn) file.leadIn = 0;  // cannot name bytes before the source
  file.streamStart = info.fileStart;
  file.size = info.bytesWritten;
  file.complete = info.complete != 0;
  if (info.size >= sizeof(tag_ClosedFileInfo) && info.bytesUnwritten != 0 && !m_reader.Seekable()) {
    // A stream cannot be read again: the file stays as short as it is.
    m_incomplete.insert(file.path);
    if (!m_writeFailed) {
      m_writeFailed = true;
      m_writeFailure = "cannot write found files below " + m_options.outputDir + " (" +
                       WhyUnwritable(m_options.outputDir) + "); " + file.path +
                       " is incomplete: the source is a stream and cannot be read again";
    }
  } else if (info.size >= sizeof(tag_ClosedFileInfo) && info.bytesUnwritten != 0) {
    // The disk filled up as the file closed: it is short of bytes the source
    // holds. The record names the whole file; a resume writes it again.
    file.size += info.bytesUnwritten;
    m_damaged.push_back({file.path, file.streamStart, file.leadIn, file.size});
    if (!m_writeFailed) {
      m_writeFailed = true;
      m_writeFailure = "cannot write found files below " + m_options.outputDir + " (" +
                       WhyUnwritable(m_options.outputDir) + "); " + file.path + " is short until resumed";
    }
  }
  if (m_incomplete.count(file.path)) file.complete = false;
  if (info.picture != nullptr && info.picture->size == sizeof(tag_PictureInfo))
    file.picture = FromPictureInfo(*info.picture);
  if (m_continued.count(file.path) && file.leadIn == 0) {
    // Continued after a stop: the recognizer saw only the strips since, so
    // the picture record (or its absence) is made again from the whole file
    // as written.
    PictureOfWrittenFile(m_options.outputDir + "/" + file.path, file.extension, m_selection, m_options.block,
                         &file.picture);
  }
  file.typeCode = m_catalog.CodeForExtension(file.extension);
  if (file.typeCode == 0 && file.picture) file.typeCode = file.picture->typeCode;
  if (file.typeCode == 0) file.typeCode = info.typeCode;
  if (!FilterOut(file).empty()) {
    // Filtered files are not kept: the folder holds what the audit lists.
    platform::RemoveFile(m_options.outputDir + "/" + file.path);
    ++m_stats.byExtension[key].filtered;
    return;
  }
  Queue(std::move(file));
}

std::string Run::FilterOut(const FoundFile& file) const {
  if (m_options.minSize && file.size < *m_options.minSize) return "min-size";
  if (m_options.mode == RunOptions::Mode::kScan && m_options.restrictedSize && file.size > *m_options.restrictedSize)
    return "skip-larger";
  if (m_options.minWidth != 0 && file.picture && file.picture->width != 0 && file.picture->height != 0 &&
      (file.picture->width < m_options.minWidth || file.picture->height < m_options.minHeight))
    return "min-resolution";
  return "";
}

void Run::Queue(FoundFile file) {
  const uint64_t key = file.streamStart - std::min(file.streamStart, file.leadIn);
  m_pending.emplace(std::make_pair(key, m_sequence++), std::move(file));
}

void Run::EmitReady(uint64_t nextPosition, bool all, const std::optional<uint64_t>* oldestGiven) {
  uint64_t limit = UINT64_MAX;
  if (!all) {
    limit = nextPosition > kOrderSlack ? nextPosition - kOrderSlack : 0;
    uint64_t oldest = 0;
    if (oldestGiven != nullptr) {
      if (*oldestGiven) limit = std::min(limit, **oldestGiven);
    } else if (TypeRecovery_GetOldestOpenFileStart(m_manager.get(), &oldest) != 0) {
      limit = std::min(limit, oldest);
    }
  }
  while (!m_pending.empty() && m_pending.begin()->first.first < limit) {
    FoundFile file = std::move(m_pending.begin()->second);
    m_pending.erase(m_pending.begin());
    Emit(std::move(file));
  }
}

void Run::Emit(FoundFile file) {
  const std::string key = file.extension;
  ExtensionStats& stats = m_stats.byExtension[key];
  if (m_options.mode == RunOptions::Mode::kScan) {
    std::string reason = FilterOut(file);
    if (!reason.empty()) {
      ++(reason == "skip-larger" ? stats.dropped : stats.filtered);
      return;
    }
  }
  if (m_freeSpace != nullptr) {
    // Found in free space: the media pieces that hold the source bytes.
    file.pieces = m_freeSpace->Pieces(file.streamStart, file.size - file.leadIn);
    if (!file.pieces.empty()) file.offset = file.pieces.front().offset - std::min(file.pieces.front().offset, file.leadIn);
  }
  bool damaged = false;
  for (const Damaged& d : m_damaged) damaged = damaged || d.path == file.path;
  if (!m_options.hashName.empty()) {
    std::optional<std::string> digest;
    if (damaged && file.leadIn == 0 && m_reader.Seekable()) {
      // Short on disk until the resume writes it again from the source.
      SourceReader* reader = &m_reader;
      digest = HashRead([reader](uint64_t position, uint8_t* into, size_t want) {
        return reader->ReadAt(position, into, want);
      }, file.streamStart, file.size, m_options.hashName);
    } else if (!file.path.empty()) {
      // The written file itself is what the digest vouches for.
      int fd = platform::OpenForReading(m_options.outputDir + "/" + file.path);
      if (fd >= 0) {
        digest = HashRange(fd, 0, file.size, m_options.hashName);
        platform::Close(fd);
      }
    } else if (m_reader.Seekable()) {
      // Read back through the reader: in free space, exactly the bytes the
      // file was found in.
      SourceReader* reader = &m_reader;
      digest = HashRead([reader](uint64_t position, uint8_t* into, size_t want) {
        return reader->ReadAt(position, into, want);
      }, file.streamStart, file.size, m_options.hashName);
    }
    if (digest) file.hash = *digest;
    else ++m_stats.unhashed;
  }
  file.zeroFilled = m_reader.TouchesUnreadable(file.streamStart, file.size - std::min(file.size, file.leadIn));
  if (!KeepWritten(file, damaged)) {
    ++m_stats.duplicates;
  } else {
    ++stats.files;
    ++(file.complete ? stats.complete : stats.cut);
    stats.bytes += file.size;
  }
  WriteRecord(file);
}

bool Run::KeepWritten(FoundFile& file, bool damaged) {
  if (file.path.empty()) return true;
  const std::string onDisk = m_options.outputDir + "/" + file.path;
  // A file a full disk left short is not yet the bytes its record names.
  if (m_options.dedup && !damaged) {
    std::optional<std::string> digest;
    if (ToLower(m_options.hashName) == "sha256" && !file.hash.empty()) {
      digest = file.hash;
    } else {
      int fd = platform::OpenForReading(onDisk);
      if (fd >= 0) {
        digest = HashRange(fd, 0, file.size, "sha256");
        platform::Close(fd);
      }
    }
    if (digest) {
      std::string first = m_duplicates.FirstWith(*digest, file.size, file.path);
      if (!first.empty() && platform::RemoveFile(onDisk)) {
        file.duplicateOf = first;
        file.path.clear();
        return false;
      }
    }
  }
  if (m_options.setMtime && file.picture && !file.picture->dateTimeOriginal.empty()) {
    // The camera's date, when the picture carries one; else the file keeps
    // the time it was written.
    if (std::optional<std::time_t> taken = IsoDateToTime(file.picture->dateTimeOriginal))
      SetModificationTime(onDisk, *taken);
  }
  return true;
}

bool Run::WriteRecord(const FoundFile& file) {
  // After a failed write nothing more goes out: the records wait in the
  // state, and a resume writes them where the outputs stood.
  if (m_writeFailed && m_keepsState) {
    m_unwritten.push_back(file);
    return false;
  }
  bool ok = true;
  std::string text;
  if (m_report != nullptr && m_writer) {
    text = m_writer->Record(file);
    if (std::fwrite(text.data(), 1, text.size(), m_report) != text.size() ||
        (!m_reportIsStdout && std::fflush(m_report) != 0)) {
      ok = false;
      if (!m_writeFailed)
        m_writeFailure = "cannot write the report " +
                         (m_reportIsStdout ? std::string("to standard output") : m_options.reportPath) + ": " +
                         std::strerror(errno);
    }
  }
  if (ok && m_auditFd >= 0) {
    // Record and footer in one write: the audit is a whole document after
    // every record, whenever the run stops.
    std::string record = m_auditWriter->Record(file);
    std::string both = record + m_auditFooter;
    if (PwriteAll(m_auditFd, both.data(), both.size(), m_auditEnd)) {
      m_auditEnd += record.size();
    } else {
      ok = false;
      if (!m_writeFailed)
        m_writeFailure = "cannot write the audit record " + m_options.outputDir + "/" + m_auditName + ".xml: " +
                         std::strerror(errno);
    }
  }
  if (!ok) {
    m_writeFailed = true;
    if (m_keepsState) m_unwritten.push_back(file);
    return false;
  }
  m_reportLength += text.size();
  return true;
}

RunEnd Run::Ended(RunEnd end) const {
  for (const MediaRun& run : m_reader.Unreadable()) {
    if (m_freeSpace == nullptr) {
      end.unreadable.push_back(run);
      continue;
    }
    for (const MediaRun& piece : m_freeSpace->Pieces(run.offset, run.length)) end.unreadable.push_back(piece);
  }
  return end;
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

bool Run::UpdateAuditFooter(const RunEnd& end) {
  if (m_auditFd < 0) return true;
  m_auditFooter = m_auditWriter->Footer(Ended(end));
  return PwriteAll(m_auditFd, m_auditFooter.data(), m_auditFooter.size(), m_auditEnd) &&
         platform::Truncate(m_auditFd, m_auditEnd + m_auditFooter.size());
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
  ReportContext context;
  context.sourcePath = m_options.source;
  context.hashName = m_options.hashName;
  context.commandLine = m_options.commandLine;
  context.startTime = m_startTime;
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
  if (m_options.resume) {
    if (!m_keepsState) {
      Message("a scan to standard output keeps no state; name the state file with --state to resume");
      return kExitState;
    }
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
    m_startTime = info.value("start_time", m_startTime);
  } else if (m_keepsState && platform::PathExists(m_statePath)) {
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
    const nlohmann::json& info = state->Info();
    TypeRecoveryFile file = platform::LibraryFile(state->Fd());
    if (!TypeRecovery_LoadProgress(m_manager.get(), file)) {
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
    m_resumedAt = position;
    for (const nlohmann::json& run : info.value("unreadable", nlohmann::json::array()))
      m_reader.NoteUnreadable(run.at(0).get<uint64_t>(), run.at(1).get<uint64_t>());
    m_resumedReportLength = info.value("report_length", uint64_t{0});
    try {
      for (const nlohmann::json& record : info.value("pending", nlohmann::json::array())) Queue(RecordFromJson(record));
      for (const nlohmann::json& record : info.value("unwritten", nlohmann::json::array()))
        m_unwritten.push_back(RecordFromJson(record));
    } catch (const nlohmann::json::exception&) {
      Message("the state file " + m_statePath + " is damaged (its waiting records)");
      return kExitState;
    }
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
  ReportContext context;
  context.sourcePath = m_options.source;
  context.hashName = m_options.hashName;
  context.commandLine = m_options.commandLine;
  context.startTime = m_startTime;
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
    if (!m_reportIsStdout) reportLength = m_reportLength;
  }
  size_t prefixLength = static_cast<size_t>(
      std::min<uint64_t>(m_reader.Prefix().size(), position - m_reader.Start()));
  nlohmann::json info;
  info["format"] = 2;
  info["command"] = m_options.ModeName();
  info["settings"] = m_options.Settings();
  info["codes"] = m_selection.Codes(m_catalog);
  info["source"] = {{"path", m_options.source},
                    {"size", m_reader.SourceSize()},
                    {"prefix_length", prefixLength},
                    {"prefix_sha256", PrefixDigest(m_reader.Prefix(), prefixLength)}};
  info["position"] = position;
  info["report_length"] = reportLength;
  info["start_time"] = m_startTime;
  info["stats"] = m_stats.ToJson();
  nlohmann::json pending = nlohmann::json::array();
  for (const auto& entry : m_pending) pending.push_back(RecordToJson(entry.second));
  info["pending"] = pending;
  nlohmann::json unwritten = nlohmann::json::array();
  for (const FoundFile& file : m_unwritten) unwritten.push_back(RecordToJson(file));
  info["unwritten"] = unwritten;
  nlohmann::json unreadable = nlohmann::json::array();
  for (const MediaRun& run : m_reader.Unreadable()) unreadable.push_back({run.offset, run.length});
  info["unreadable"] = unreadable;
  if (m_auditFd >= 0) {
    info["audit_name"] = m_auditName;
    info["audit_length"] = m_auditEnd;
    UpdateAuditFooter(RunEnd{"running", "", "", false});
    platform::Sync(m_auditFd);
  }
  if (m_options.mode == RunOptions::Mode::kCarve) {
    // The files being written (the library flushes its buffers into them
    // first): their sizes are the bytes the saved progress stands for,
    // synced before the state that relies on them.
    std::vector<OpenFile> open;
    TypeRecovery_GetOpenOutputFiles(m_manager.get(), &TRListOpen, reinterpret_cast<uintptr_t>(&open));
    nlohmann::json files = nlohmann::json::array();
    for (const OpenFile& file : open) {
      platform::SyncLibraryFile(file.handle);
      // After a failed write a file still being followed is short of the
      // strips it took; its size is then what it should hold, and a resume
      // fills the gap from the source.
      uint64_t size = file.size;
      if (m_lostWrites && file.fileStart <= position && size < position - file.fileStart)
        size = position - file.fileStart;
      files.push_back({{"path", file.path}, {"type", file.typeCode}, {"start", file.fileStart}, {"size", size}});
    }
    info["open_files"] = files;
    nlohmann::json damaged = nlohmann::json::array();
    for (const Damaged& d : m_damaged)
      damaged.push_back({{"path", d.path}, {"start", d.streamStart}, {"lead_in", d.leadIn}, {"size", d.size}});
    info["damaged_files"] = damaged;
    info["incomplete_files"] = m_incomplete;
    info["journal_length"] = m_journalEnd;
    if (m_journalFd >= 0) platform::Sync(m_journalFd);
    if (m_options.dedup) info["digests_length"] = m_duplicates.Sync();
  }
  WriteSummary("running", "");
  return WriteStateFile(m_statePath, info, [&](int fd) {
    return TypeRecovery_SaveProgress(m_manager.get(), platform::LibraryFile(fd)) != 0;
  }, error);
}

std::string Run::ResumeCommand() const {
  // The command as it was given, with --resume, and --state where the
  // state went somewhere else than the command would look.
  std::vector<std::string> words;
  bool stateNamed = false;
  const std::vector<std::string>& given = m_options.arguments;
  for (size_t i = 0; i < given.size(); ++i) {
    const std::string& word = given[i];
    if (word == "--resume") continue;
    if (word == "--state" || word.rfind("--state=", 0) == 0) {
      if (word == "--state") ++i;
      continue;
    }
    words.push_back(word);
  }
  if (words.empty()) words = {"typerecovery", m_options.ModeName(), m_options.source};
  if (!m_options.statePath.empty() || m_statePath != m_options.DefaultStatePath()) stateNamed = true;
  std::string command;
  for (const std::string& word : words) command += (command.empty() ? "" : " ") + Quote(word);
  if (stateNamed) command += " --state " + Quote(m_statePath);
  return command + " --resume";
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

constexpr uint64_t kMinSegment = 4u << 20, kMaxSegment = 64u << 20;

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

int Run::Finish() {
  TypeRecovery_Flush(m_manager.get());
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

}  // namespace

nlohmann::json RunOptions::Settings() const {
  nlohmann::json settings;
  settings["types"] = types;
  settings["max-size"] = maxSizes;
  settings["skip-larger"] = restrictedSize ? nlohmann::json(*restrictedSize) : nlohmann::json();
  settings["min-size"] = minSize ? nlohmann::json(*minSize) : nlohmann::json();
  settings["min-resolution"] =
      minWidth != 0 ? nlohmann::json(std::to_string(minWidth) + "x" + std::to_string(minHeight)) : nlohmann::json();
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
    settings["dedup"] = dedup;
    settings["set-mtime"] = setMtime;
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
    auto optionalSize = [&](const char* key) {
      return saved.contains(key) && saved[key].is_number_unsigned() ? std::optional<uint64_t>(saved[key].get<uint64_t>())
                                                                    : std::nullopt;
    };
    restrictedSize = optionalSize("skip-larger");
    minSize = optionalSize("min-size");
    minWidth = minHeight = 0;
    if (saved.contains("min-resolution") && saved["min-resolution"].is_string() &&
        !ParseResolution(saved["min-resolution"].get<std::string>(), &minWidth, &minHeight)) {
      *error = "the state file's settings are damaged";
      return false;
    }
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
      dedup = saved.value("dedup", false);
      setMtime = saved.value("set-mtime", false);
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
  json["unhashed"] = unhashed;
  json["duplicates"] = duplicates;
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
  Run run(std::move(options));
  return run.Execute();
}

}  // namespace trcli
