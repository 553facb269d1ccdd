#include "Scanner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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
#include "PhotoDates.h"
#include "ProgressMeter.h"
#include "Sizes.h"
#include "SourceReader.h"
#include "StateFile.h"
#include "Text.h"
#include "TypeCatalog.h"
#include "typerecovery.h"

namespace trcli {
namespace {

volatile sig_atomic_t g_stopSignal = 0;
static_assert(sizeof(sig_atomic_t) == sizeof(int), "the reader takes the stop flag as an int");

extern "C" void TRStopHandler(int signal) { g_stopSignal = signal; }

// SIGINT and SIGTERM ask the loop to stop after the current strip. Further
// signals change nothing: the state being saved is saved whole (SIGKILL
// still ends the process at once).
class StopSignals {
 public:
  StopSignals() {
    g_stopSignal = 0;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = TRStopHandler;
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
  }
  ~StopSignals() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
  }

 private:
  struct sigaction m_oldInt, m_oldTerm;
};

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

bool MakeFolders(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      partial = path.substr(0, i);
      if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Why writing below a folder fails, in words: a full disk or the error a
// fresh file there gets.
std::string WhyUnwritable(const std::string& folder) {
  struct statvfs info;
  if (::statvfs(folder.c_str(), &info) == 0 && info.f_bavail == 0) return "the disk is full";
  std::string probe = folder + "/.typerecovery-probe";
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  std::string reason = "a write failed";
  if (::write(fd, "probe", 5) != 5) reason = std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return reason;
}

bool ProbeWritable(const std::string& folder, std::string* reason) {
  std::string probe = folder + "/.typerecovery-probe";
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
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
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
      *error = "cannot create the lock file " + path + ": " + std::strerror(errno);
      return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
      char holder[512] = {};
      ssize_t got = ::pread(m_fd, holder, sizeof holder - 1, 0);
      std::string who = got > 0 ? std::string(holder, static_cast<size_t>(got)) : "an unknown process";
      while (!who.empty() && who.back() == '\n') who.pop_back();
      *error = what + " is in use by another run (" + who + "); wait for it to end or choose another output";
      ::close(m_fd);
      m_fd = -1;
      return false;
    }
    m_path = path;
    std::string text = "pid " + std::to_string(::getpid()) + ", started " + UtcNow() + ": " + commandLine + "\n";
    // The lock holds even where the note cannot be written.
    if (::ftruncate(m_fd, 0) == 0) PwriteAll(m_fd, text.data(), text.size(), 0);
    return true;
  }
  void Release() {
    if (m_fd < 0) return;
    ::unlink(m_path.c_str());
    ::close(m_fd);
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

class Run {
 public:
  explicit Run(RunOptions options) : m_options(std::move(options)) {}
  int Execute();

  // Library callbacks.
  void OnFound(const char16_t* extension, uint64_t fileStart, uint64_t size, uint32_t complete,
               const tag_PictureInfo* picture);
  void OnClosed(const tag_ClosedFileInfo& info);

 private:
  int Prepare();
  int PrepareCarveFolder(bool resuming, const nlohmann::json* savedInfo);
  int Loop();
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
  void EmitReady(uint64_t nextPosition, bool all);
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
  uint64_t m_journalEnd = 0;
  std::string JournalPath() const { return m_options.outputDir + "/.typerecovery-journal"; }
  // Resume of a carve: puts the folder back as it was at the saved state and
  // hands the library its files in progress again.
  bool RestoreCarveFolder(const nlohmann::json& info, std::string* error);
  std::shared_ptr<const MediaMap> m_freeSpace;
  std::vector<std::string> m_sourceNotes;
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
    if (m_auditFd >= 0) ::close(m_auditFd);
    return status;
  }
  StopSignals signals;
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
  if (m_auditFd >= 0) ::close(m_auditFd);
  m_auditFd = -1;
  if (m_journalFd >= 0) ::close(m_journalFd);
  m_journalFd = -1;
  return status;
}

bool Run::RestoreCarveFolder(const nlohmann::json& info, std::string* error) {
  // Files closed after the saved state are written again, under the same
  // names: remove them first. The journal names them.
  const uint64_t journalLength = info.value("journal_length", uint64_t{0});
  m_journalFd = ::open(JournalPath().c_str(), O_RDWR | O_CLOEXEC);
  std::string journal;
  if (m_journalFd >= 0) {
    struct stat status;
    if (::fstat(m_journalFd, &status) == 0) {
      journal.resize(static_cast<size_t>(status.st_size));
      if (::pread(m_journalFd, journal.data(), journal.size(), 0) != static_cast<ssize_t>(journal.size()))
        journal.clear();
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
  for (const std::string& path : SplitList(journal.substr(0, static_cast<size_t>(journalLength)), "\n"))
    known.insert(path);
  for (const std::string& path : SplitList(journal.substr(static_cast<size_t>(journalLength)), "\n"))
    if (path.find("..") == std::string::npos && !continued.count(path))
      ::unlink((m_options.outputDir + "/" + path).c_str());
  if (m_journalFd >= 0 && ::ftruncate(m_journalFd, static_cast<off_t>(journalLength)) != 0) {
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
        if (entry.is_regular_file() && !known.count(relative)) ::unlink(entry.path().c_str());
      }
    }
  }
  // Files a full disk left short are written again from the source.
  for (const nlohmann::json& d : info.value("damaged_files", nlohmann::json::array())) {
    const std::string path = m_options.outputDir + "/" + d.at("path").get<std::string>();
    const uint64_t leadIn = d.at("lead_in").get<uint64_t>(), size = d.at("size").get<uint64_t>();
    const uint64_t start = d.at("start").get<uint64_t>();
    int fd = d.at("path").get<std::string>().find("..") == std::string::npos && m_reader.Seekable()
                 ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
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
    if (fd >= 0) ::close(fd);
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
  }
  // The files being written at the saved state go on where they stood.
  for (const OpenFile& file : open) {
    std::string path = m_options.outputDir + "/" + OnDisk(file.path);
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && m_reader.Seekable()) {
      // Renamed into its type's folder when it closed after the save, and
      // removed above: its bytes so far are the source's, written again.
      std::vector<uint8_t> bytes(1u << 20);
      MakeFolders(path.substr(0, path.rfind('/')));
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      for (uint64_t done = 0; fd >= 0 && done < file.size;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(bytes.size(), file.size - done));
        if (!m_reader.ReadAt(file.fileStart + done, bytes.data(), want) || !PwriteAll(fd, bytes.data(), want, done)) {
          ::close(fd);
          fd = -1;
          break;
        }
        done += want;
      }
    }
    struct stat status;
    if (fd >= 0 && ::fstat(fd, &status) == 0 && static_cast<uint64_t>(status.st_size) < file.size &&
        m_reader.Seekable()) {
      // Bytes a failed write lost: the source's, written now.
      std::vector<uint8_t> bytes(1u << 20);
      for (uint64_t done = static_cast<uint64_t>(status.st_size); done < file.size;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(bytes.size(), file.size - done));
        if (!m_reader.ReadAt(file.fileStart + done, bytes.data(), want) || !PwriteAll(fd, bytes.data(), want, done))
          break;
        done += want;
      }
    }
    if (fd < 0 || ::fstat(fd, &status) != 0 || static_cast<uint64_t>(status.st_size) < file.size ||
        ::ftruncate(fd, static_cast<off_t>(file.size)) != 0 || ::lseek(fd, 0, SEEK_END) < 0) {
      *error = "cannot continue " + path + ", the file being written at the stop: " +
               (fd < 0 ? std::strerror(errno) : "it is shorter than when the state was saved");
      if (fd >= 0) ::close(fd);
      return false;
    }
    std::u16string wide = Utf8ToUtf16(file.path);
    if (TypeRecovery_ReopenOutputFile(m_manager.get(), file.typeCode, file.fileStart, wide.c_str(),
                                      TYPERECOVERY_FILE_FROM_FD(fd)) == 0) {
      ::close(fd);
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
  if (info.size >= sizeof(tag_ClosedFileInfo) && info.bytesUnwritten != 0) {
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
  file.complete = info.complete != 0;
  if (info.picture != nullptr && info.picture->size == sizeof(tag_PictureInfo))
    file.picture = FromPictureInfo(*info.picture);
  file.typeCode = m_catalog.CodeForExtension(file.extension);
  if (file.typeCode == 0 && file.picture) file.typeCode = file.picture->typeCode;
  if (file.typeCode == 0) file.typeCode = info.typeCode;
  if (!FilterOut(file).empty()) {
    // Filtered files are not kept: the folder holds what the audit lists.
    ::unlink((m_options.outputDir + "/" + file.path).c_str());
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

void Run::EmitReady(uint64_t nextPosition, bool all) {
  uint64_t limit = UINT64_MAX;
  if (!all) {
    limit = nextPosition > kOrderSlack ? nextPosition - kOrderSlack : 0;
    uint64_t oldest = 0;
    if (TypeRecovery_GetOldestOpenFileStart(m_manager.get(), &oldest) != 0) limit = std::min(limit, oldest);
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
      const SourceReader* reader = &m_reader;
      digest = HashRead([reader](uint64_t position, uint8_t* into, size_t want) {
        return reader->ReadAt(position, into, want);
      }, file.streamStart, file.size, m_options.hashName);
    } else if (!file.path.empty()) {
      // The written file itself is what the digest vouches for.
      int fd = ::open((m_options.outputDir + "/" + file.path).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        digest = HashRange(fd, 0, file.size, m_options.hashName);
        ::close(fd);
      }
    } else if (m_reader.Seekable()) {
      // Read back through the reader: in free space, exactly the bytes the
      // file was found in.
      const SourceReader* reader = &m_reader;
      digest = HashRead([reader](uint64_t position, uint8_t* into, size_t want) {
        return reader->ReadAt(position, into, want);
      }, file.streamStart, file.size, m_options.hashName);
    }
    if (digest) file.hash = *digest;
    else ++m_stats.unhashed;
  }
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
      int fd = ::open(onDisk.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        digest = HashRange(fd, 0, file.size, "sha256");
        ::close(fd);
      }
    }
    if (digest) {
      std::string first = m_duplicates.FirstWith(*digest, file.size, file.path);
      if (!first.empty() && ::unlink(onDisk.c_str()) == 0) {
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
  if (m_report != nullptr && m_writer) {
    std::string text = m_writer->Record(file);
    if (std::fwrite(text.data(), 1, text.size(), m_report) != text.size() && !m_writeFailed) {
      m_writeFailed = true;
      m_writeFailure = "cannot write the report " + (m_reportIsStdout ? std::string("to standard output") : m_options.reportPath) +
                       ": " + std::strerror(errno);
    }
  }
  if (m_auditFd >= 0) {
    // Record and footer in one write: the audit is a whole document after
    // every record, whenever the run stops.
    std::string text = m_auditWriter->Record(file);
    std::string both = text + m_auditFooter;
    if (!PwriteAll(m_auditFd, both.data(), both.size(), m_auditEnd)) {
      if (!m_writeFailed) {
        m_writeFailed = true;
        m_writeFailure = "cannot write the audit record " + m_options.outputDir + "/" + m_auditName + ".xml: " +
                         std::strerror(errno);
      }
      return false;
    }
    m_auditEnd += text.size();
  }
  return true;
}

bool Run::UpdateAuditFooter(const RunEnd& end) {
  if (m_auditFd < 0) return true;
  m_auditFooter = m_auditWriter->Footer(end);
  return PwriteAll(m_auditFd, m_auditFooter.data(), m_auditFooter.size(), m_auditEnd) &&
         ::ftruncate(m_auditFd, static_cast<off_t>(m_auditEnd + m_auditFooter.size())) == 0;
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
  summary["sessions"] = m_stats.sessions;
  summary["seconds"] = m_stats.seconds;
  summary["bytes_scanned"] = m_stats.bytesScanned;
  if (m_reader.UnreadableBlocks() > 0) summary["unreadable_blocks"] = m_reader.UnreadableBlocks();
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
  if (m_options.dedup) summary["duplicates_not_written"] = m_stats.duplicates;
  std::string path = m_options.outputDir + "/" + m_auditName + ".json";
  std::string temporary = path + ".tmp";
  std::string text = summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && PwriteAll(fd, text.data(), text.size(), 0);
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

int Run::PrepareCarveFolder(bool resuming, const nlohmann::json* savedInfo) {
  std::string error;
  if (!MakeFolders(m_options.outputDir)) {
    Message("cannot create the output folder " + m_options.outputDir + ": " + std::strerror(errno));
    return kExitOutput;
  }
  if (!ProbeWritable(m_options.outputDir, &error)) {
    Message("cannot write in the output folder " + m_options.outputDir + ": " + error);
    return kExitOutput;
  }
  auto exists = [&](const std::string& name) {
    return ::access((m_options.outputDir + "/" + name).c_str(), F_OK) == 0;
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
    m_auditFd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat info;
    if (m_auditFd < 0 || ::fstat(m_auditFd, &info) != 0 || static_cast<uint64_t>(info.st_size) < m_auditEnd) {
      Message("cannot continue the audit record " + path + ": " +
              (m_auditFd < 0 ? std::strerror(errno) : "it is shorter than the saved state says"));
      return kExitState;
    }
  } else {
    m_auditFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
  std::u16string root = Utf8ToUtf16(m_options.outputDir);
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
    if (!MakeFolders(m_options.outputDir)) {
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
  } else if (m_keepsState && ::access(m_statePath.c_str(), F_OK) == 0) {
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
  m_reader.SetStopFlag(&g_stopSignal);
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
    TypeRecoveryFile file = TYPERECOVERY_FILE_FROM_FD(state->Fd());
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
    m_resumedReportLength = info.value("report_length", uint64_t{0});
    try {
      for (const nlohmann::json& record : info.value("pending", nlohmann::json::array())) Queue(RecordFromJson(record));
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
    if (m_journalFd < 0) m_journalFd = ::open(JournalPath().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
    int fd = ::open(m_options.reportPath.c_str(), O_RDWR | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || static_cast<uint64_t>(info.st_size) < m_resumedReportLength ||
        ::ftruncate(fd, static_cast<off_t>(m_resumedReportLength)) != 0 || ::lseek(fd, 0, SEEK_END) < 0) {
      *error = "cannot continue the report " + m_options.reportPath + ": " +
               (fd >= 0 && errno == 0 ? "it is shorter than the saved state says" : std::strerror(errno));
      if (fd >= 0) ::close(fd);
      return false;
    }
    m_report = ::fdopen(fd, "a");
    header.clear();
  } else {
    m_report = std::fopen(m_options.reportPath.c_str(), "w");
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
  if (m_auditFd >= 0) {
    info["audit_name"] = m_auditName;
    info["audit_length"] = m_auditEnd;
    ::fsync(m_auditFd);
  }
  if (m_options.mode == RunOptions::Mode::kCarve) {
    // The files being written (the library flushes its buffers into them
    // first): their sizes are the bytes the saved progress stands for,
    // synced before the state that relies on them.
    std::vector<OpenFile> open;
    TypeRecovery_GetOpenOutputFiles(m_manager.get(), &TRListOpen, reinterpret_cast<uintptr_t>(&open));
    nlohmann::json files = nlohmann::json::array();
    for (const OpenFile& file : open) {
      ::fsync(static_cast<int>(reinterpret_cast<intptr_t>(file.handle)));
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
    info["journal_length"] = m_journalEnd;
    if (m_journalFd >= 0) ::fsync(m_journalFd);
    if (m_options.dedup) info["digests_length"] = m_duplicates.Sync();
  }
  WriteSummary("running", "");
  return WriteStateFile(m_statePath, info, [&](int fd) {
    return TypeRecovery_SaveProgress(m_manager.get(), TYPERECOVERY_FILE_FROM_FD(fd)) != 0;
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
      const char* temporary = std::getenv("TMPDIR");
      std::string keep = m_statePath;
      m_statePath = std::string(temporary != nullptr && *temporary != 0 ? temporary : "/tmp") +
                    "/typerecovery-state-" + std::to_string(::getpid());
      std::string second;
      saved = SaveState(position, &second);
      if (!saved) m_statePath = keep;
    }
  }
  if (m_report != nullptr && m_writer) {
    std::string footer = m_writer->Footer(RunEnd{"interrupted", UtcNow(), why, false});
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
  if (m_auditFd >= 0) ::fsync(m_auditFd);
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
  ProgressMeter meter(ProgressMeter::Choose(m_options.quiet, stderr), stderr);
  m_sessionStart = m_accountedUntil = Now();
  m_sessionStartPosition = m_reader.NextPosition();
  double lastSave = m_sessionStart;
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
    if (g_stopSignal != 0) {
      meter.Finish();
      return StopWithState(next, kExitInterrupted,
                           std::string("interrupted by ") + (g_stopSignal == SIGTERM ? "SIGTERM" : "SIGINT"));
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
  if (g_stopSignal != 0 && m_reader.Interrupted()) {
    return StopWithState(m_reader.NextPosition(), kExitInterrupted,
                         std::string("interrupted by ") + (g_stopSignal == SIGTERM ? "SIGTERM" : "SIGINT"));
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
  TypeRecovery_Flush(m_manager.get());
  EmitReady(0, true);
  SessionTime();
  uint64_t end = m_reader.NextPosition();
  m_stats.bytesScanned = end - m_reader.Start();
  if (m_writeFailed) {
    Message(m_writeFailure);
    return kExitOutput;
  }
  const RunEnd finished{"finished", UtcNow(), "", true};
  if (m_report != nullptr) {
    std::string footer = m_writer->Footer(finished);
    if (std::fwrite(footer.data(), 1, footer.size(), m_report) != footer.size() || std::fflush(m_report) != 0) {
      Message("cannot write the report " + (m_reportIsStdout ? std::string("to standard output") : m_options.reportPath) +
              ": " + std::strerror(errno));
      return kExitOutput;
    }
  }
  if (m_auditFd >= 0 && (!UpdateAuditFooter(finished) || ::fsync(m_auditFd) != 0)) {
    Message("cannot write the audit record in " + m_options.outputDir + ": " + std::strerror(errno));
    return kExitOutput;
  }
  if (!WriteSummary("finished", "")) {
    Message("cannot write the run summary in " + m_options.outputDir + ": " + std::strerror(errno));
    return kExitOutput;
  }
  if (m_keepsState) ::unlink(m_statePath.c_str());
  if (m_journalFd >= 0) {
    ::close(m_journalFd);
    m_journalFd = -1;
    ::unlink(JournalPath().c_str());
  }
  m_duplicates.Remove();
  if (m_options.mode == RunOptions::Mode::kCarve) {
    std::string summary = FormatSummary(m_stats, m_options.outputDir);
    summary += "audit: " + m_options.outputDir + "/" + m_auditName + ".xml, " + m_auditName + ".json\n";
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
      *error = "--" + it.key() + " differs from the saved run (" + it.value().dump() +
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
  if (!outputDir.empty()) out += "output: " + outputDir + "\n";
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
