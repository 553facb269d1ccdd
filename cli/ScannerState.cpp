// The state file's side of a run: the checks before a resume (the saved
// run's command and settings, the source's size and first bytes, the saved
// position), the carve folder put back as it was at the save, the state
// saved, the command that continues a stopped run, and the settings a
// resume must keep.
#include "ScannerRun.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "ExitCodes.h"
#include "Hasher.h"
#include "Platform.h"
#include "Text.h"

namespace trcli {
namespace scanner {
namespace {

std::string Quote(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t'\"\\$`!*?[]{}()<>|&;#~") == std::string::npos) return text;
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

std::string PrefixDigest(const std::vector<uint8_t>& prefix, size_t length) {
  auto digest = HashBytes(prefix.data(), length, "sha256");
  return digest ? *digest : "";
}

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

}  // namespace

int Run::OpenState(std::unique_ptr<StateReader>* opened) {
  std::string error;
  if (m_options.resume) {
    if (!m_keepsState) {
      Message("a scan to standard output keeps no state; name the state file with --state to resume");
      return kExitState;
    }
    auto state = std::make_unique<StateReader>();
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
    *opened = std::move(state);
  } else if (m_keepsState && platform::PathExists(m_statePath)) {
    Message("a state file of an interrupted run exists: " + m_statePath +
            "; continue it with --resume, or remove it to start over");
    return kExitState;
  }
  return kExitOk;
}

int Run::ResumeFromState(const StateReader& state) {
  std::string error;
  const nlohmann::json& info = state.Info();
  TypeRecoveryFile file = platform::LibraryFile(state.Fd());
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
  return kExitOk;
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
  RunStats stats = m_stats;
  stats.faults = Faults();
  info["stats"] = stats.ToJson();
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

}  // namespace scanner

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

}  // namespace trcli
