// Found and closed files: what the library reports made into records, the
// user's filters, the wait that puts records in source order, digests,
// --dedup and --set-mtime on written files, and each record written to the
// report and the audit.
#include "ScannerRun.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Hasher.h"
#include "PhotoDates.h"
#include "Platform.h"
#include "Text.h"
#include "WrittenPicture.h"

namespace trcli {
namespace scanner {
namespace {

// Records wait here until no file still being followed can begin before
// them, then go out in source order. A file that ends later never begins
// before one that is still open; the slack covers formats that report a
// start a little before the strip where they were recognised (a disc
// image's system area).
constexpr uint64_t kOrderSlack = 64u << 10;

}  // namespace

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

bool Run::UpdateAuditFooter(const RunEnd& end) {
  if (m_auditFd < 0) return true;
  m_auditFooter = m_auditWriter->Footer(Ended(end));
  return PwriteAll(m_auditFd, m_auditFooter.data(), m_auditFooter.size(), m_auditEnd) &&
         platform::Truncate(m_auditFd, m_auditEnd + m_auditFooter.size());
}

}  // namespace scanner

}  // namespace trcli
