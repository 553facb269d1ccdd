#include "Segment.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "EvidenceSource.h"
#include "ExitCodes.h"
#include "Message.h"
#include "Hasher.h"
#include "Platform.h"
#include "ProgressMeter.h"
#include "Sizes.h"
#include "Text.h"
#include "TypeCatalog.h"

namespace trcli {
namespace {

// The picture record as its fixed layout's bytes (the public header fixes
// every offset), in hex.
std::string PictureToHex(const tag_PictureInfo& picture) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const uint8_t*>(&picture);
  std::string hex;
  hex.reserve(2 * sizeof picture);
  for (size_t i = 0; i < sizeof picture; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

bool PictureFromHex(const std::string& hex, tag_PictureInfo* picture) {
  if (hex.size() != 2 * sizeof *picture) return false;
  auto* bytes = reinterpret_cast<uint8_t*>(picture);
  for (size_t i = 0; i < sizeof *picture; ++i) {
    int value = 0;
    for (char c : {hex[2 * i], hex[2 * i + 1]}) {
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes[i] = static_cast<uint8_t>(value);
  }
  return true;
}

// The managers and readers of one segment's run; nothing is joined here.
class SegmentHost : public ParallelHost {
 public:
  SegmentHost(const RunOptions& options, const TypeSelection& selection, uint64_t end)
      : m_options(options), m_selection(selection), m_end(end) {}
  CTypeRecoveryManager* NewWorkerManager(const std::string& root, uintptr_t user, TypeRecoveryFoundFileFn found,
                                         TypeRecoveryFileClosedFn closed) override {
    const bool carve = m_options.mode == RunOptions::Mode::kCarve;
    std::u16string wideRoot = PathToUtf16(root);
    CTypeRecoveryManager* manager = carve ? TypeRecovery_CreateManager(0, nullptr, wideRoot.c_str())
                                          : TypeRecovery_CreateManager(user, found, nullptr);
    if (manager == nullptr) return nullptr;
    if (carve) TypeRecovery_SetFileClosedCallback(manager, closed, user);
    m_selection.ApplyTo(manager);
    if (m_options.restrictedSize) TypeRecovery_SetRestrictedSize(manager, *m_options.restrictedSize);
    return manager;
  }
  bool OpenWorkerReader(SourceReader* reader, uint64_t from, std::string* error) override {
    if (!reader->Open(m_options.source, from, m_end - from, error)) return false;
    reader->SetGeometry(m_options.block, m_options.chunk, m_options.lookahead);
    reader->SetStopFlag(platform::StopRequests::Flag());
    return true;
  }
  void JoinFound(const char16_t*, uint64_t, uint64_t, uint32_t, const tag_PictureInfo*) override {}
  void JoinClosed(const tag_ClosedFileInfo&) override {}
  void JoinStripEnd(uint64_t, std::optional<uint64_t>) override {}

 private:
  const RunOptions& m_options;
  const TypeSelection& m_selection;
  uint64_t m_end;
};

bool WriteJsonFile(const std::string& path, const nlohmann::json& json) {
  const std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  const std::string temporary = path + ".tmp";
  int fd = platform::OpenForWriting(temporary);
  bool ok = fd >= 0 && platform::WriteAll(fd, text.data(), text.size());
  if (fd >= 0 && !platform::Close(fd)) ok = false;
  if (ok && !platform::ReplaceFile(temporary, path)) ok = false;
  if (!ok) platform::RemoveFile(temporary);
  return ok;
}

// A path below a folder: relative, and never up out of it.
bool StaysBelow(const std::string& path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos) return false;
  for (const std::string& part : SplitList(path, "/\\"))
    if (part == "..") return false;
  return true;
}

}  // namespace

std::string SegmentsFolder(const std::string& outputDir) { return outputDir + "/.typerecovery-segments"; }

std::string SegmentName(unsigned segment, unsigned segments) {
  return std::to_string(segment) + "-of-" + std::to_string(segments);
}

bool ParseSegment(const std::string& text, unsigned* segment, unsigned* segments) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size() || slash > 6 || text.size() - slash > 7)
    return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != slash && (text[i] < '0' || text[i] > '9')) return false;
  *segment = static_cast<unsigned>(std::stoul(text.substr(0, slash)));
  *segments = static_cast<unsigned>(std::stoul(text.substr(slash + 1)));
  return *segment >= 1 && *segment <= *segments && *segments <= 100000;
}

uint64_t SegmentStep(uint64_t start, uint64_t end, unsigned count, uint32_t block) {
  const uint64_t blocks = (end - start + block - 1) / block;
  return std::max<uint64_t>(1, (blocks + count - 1) / count) * block;
}

bool OpenSegmentSource(const RunOptions& options, SourceReader* reader, std::string* error) {
  SourceRequest request;
  request.path = options.source;
  request.partition = options.partition;
  request.unallocated = options.unallocated;
  request.offset = options.offset;
  request.length = options.length;
  PreparedSource prepared;
  if (!ParseSourceFormat(options.sourceFormat, &request.format)) {
    *error = "--source-format must be auto, raw, split, ewf, aff, vhd or vmdk";
    return false;
  }
  if (!PrepareSource(request, &prepared, error)) return false;
  // Each process reads its share where it lies: a file or device read
  // directly, whose length is known.
  if (options.source == "-") {
    *error = "--segment and merge read the source each at its own place: name a file or device, not standard input";
    return false;
  }
  if (prepared.medium || prepared.freeSpace != nullptr) {
    *error = "--segment and merge read a raw image file or device directly (not an evidence container or "
             "--unallocated)";
    return false;
  }
  if (!reader->Open(options.source, prepared.offset, prepared.length, error)) return false;
  if (!reader->Seekable() || !reader->End()) {
    *error = "--segment and merge need a file or device of known length, not a stream";
    return false;
  }
  reader->SetGeometry(options.block, options.chunk, options.lookahead);
  return true;
}

nlohmann::json SourceIdentity(const RunOptions& options, SourceReader& reader) {
  const uint64_t start = reader.Start(), end = *reader.End();
  std::vector<uint8_t> prefix(static_cast<size_t>(std::min<uint64_t>(SourceReader::kPrefixBytes, end - start)));
  std::string digest;
  if (reader.ReadAt(start, prefix.data(), prefix.size()))
    if (auto sha = HashBytes(prefix.data(), prefix.size(), "sha256")) digest = *sha;
  std::error_code failed;
  std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::u8path(options.source), failed);
  return {{"path", failed ? options.source : absolute.u8string()},
          {"size", reader.SourceSize()},
          {"start", start},
          {"end", end},
          {"prefix_sha256", digest}};
}

nlohmann::json FindingSettings(const RunOptions& options) {
  nlohmann::json settings = options.Settings();
  settings.erase("output");
  return settings;
}

nlohmann::json SegmentLogToJson(const SegmentLog& log) {
  nlohmann::json entries = nlohmann::json::array();
  for (const SegmentEntry& entry : log.log) {
    nlohmann::json events = nlohmann::json::array();
    for (const SegmentEvent& e : entry.events) {
      nlohmann::json event = {{"closed", e.closed},         {"ext", Utf16ToUtf8(e.extension.c_str())},
                              {"start", e.fileStart},       {"size", e.size},
                              {"complete", e.complete}};
      if (e.closed) {
        event["path"] = Utf16ToUtf8(e.path.c_str());
        event["disposition"] = e.disposition;
        event["type"] = e.typeCode;
        event["lead_in"] = e.leadIn;
        event["expected"] = e.expectedSize;
        event["unwritten"] = e.unwritten;
      }
      if (e.hasPicture) event["picture"] = PictureToHex(e.picture);
      events.push_back(std::move(event));
    }
    entries.push_back({{"at", entry.position},
                       {"next", entry.next},
                       {"flush", entry.flush},
                       {"faults", entry.faults},
                       {"oldest", entry.oldest ? nlohmann::json(*entry.oldest) : nlohmann::json()},
                       {"events", std::move(events)}});
  }
  nlohmann::json json = {{"begin", log.begin}, {"end", log.end}, {"stop", log.stop}, {"hand_over", log.handOver},
                         {"log", std::move(entries)}};
  if (!log.root.empty()) json["root"] = log.root;
  return json;
}

SegmentLog SegmentLogFromJson(const nlohmann::json& json) {
  SegmentLog log;
  log.begin = json.at("begin").get<uint64_t>();
  log.end = json.at("end").get<uint64_t>();
  log.stop = json.at("stop").get<uint64_t>();
  log.handOver = json.at("hand_over").get<long>();
  if (json.contains("root")) {
    log.root = json.at("root").get<std::string>();
    if (!StaysBelow(log.root)) throw nlohmann::json::other_error::create(501, "a folder outside the partial's", &json);
  }
  for (const nlohmann::json& item : json.at("log")) {
    SegmentEntry entry;
    entry.position = item.at("at").get<uint64_t>();
    entry.next = item.at("next").get<uint64_t>();
    entry.flush = item.at("flush").get<bool>();
    entry.faults = item.value("faults", uint64_t{0});
    if (!item.at("oldest").is_null()) entry.oldest = item.at("oldest").get<uint64_t>();
    for (const nlohmann::json& e : item.at("events")) {
      SegmentEvent event;
      event.closed = e.at("closed").get<bool>();
      event.extension = Utf8ToUtf16(e.at("ext").get<std::string>());
      event.fileStart = e.at("start").get<uint64_t>();
      event.size = e.at("size").get<uint64_t>();
      event.complete = e.at("complete").get<uint32_t>();
      if (event.closed) {
        const std::string path = e.at("path").get<std::string>();
        if (!StaysBelow(path)) throw nlohmann::json::other_error::create(501, "a path outside its folder", &e);
        event.path = Utf8ToUtf16(path);
        event.disposition = e.at("disposition").get<uint32_t>();
        event.typeCode = e.at("type").get<uint32_t>();
        event.leadIn = e.at("lead_in").get<uint64_t>();
        event.expectedSize = e.at("expected").get<uint64_t>();
        event.unwritten = e.at("unwritten").get<uint64_t>();
      }
      if (e.contains("picture")) {
        event.hasPicture = PictureFromHex(e.at("picture").get<std::string>(), &event.picture);
        if (!event.hasPicture) throw nlohmann::json::other_error::create(501, "a damaged picture record", &e);
      }
      entry.events.push_back(std::move(event));
    }
    log.log.push_back(std::move(entry));
  }
  return log;
}

int ExecuteSegment(RunOptions options) {
  const bool carve = options.mode == RunOptions::Mode::kCarve;
  if (options.resume || options.append) {
    Message("--segment runs keep no state and write into no older carve: give neither --resume nor --append "
            "(run an interrupted segment again)");
    return kExitUsage;
  }
  std::string error;
  TypeCatalog catalog = TypeCatalog::FromLibrary();
  TypeSelection selection;
  if (!ResolveSelection(catalog, options.types, options.maxSizes, &selection, &error)) {
    Message(error);
    return kExitUsage;
  }
  if (!options.hashName.empty() && !IsKnownHash(options.hashName)) {
    Message("--hash must be sha256, md5 or sha1");
    return kExitUsage;
  }
  SourceReader reader;
  if (!OpenSegmentSource(options, &reader, &error)) {
    Message(error);
    return kExitSource;
  }
  const std::string name = SegmentName(options.segment, options.segments);
  std::string partialPath, partsDir;
  if (carve) {
    if (!platform::MakeFolders(SegmentsFolder(options.outputDir))) {
      Message("cannot create " + SegmentsFolder(options.outputDir) + ": " + std::strerror(errno));
      return kExitOutput;
    }
    partialPath = SegmentsFolder(options.outputDir) + "/" + name + ".json";
    partsDir = SegmentsFolder(options.outputDir) + "/" + name;
  } else {
    partialPath = options.reportPath.empty() || options.reportPath == "-" ? "segment-" + name + ".json"
                                                                          : options.reportPath;
  }
  // A result of an earlier run of this segment is replaced, not mixed in.
  platform::RemoveFile(partialPath);

  ParallelSettings settings;
  settings.jobs = 1;
  settings.start = reader.Start();
  settings.end = *reader.End();
  settings.block = options.block;
  settings.segmentBytes = SegmentStep(settings.start, settings.end, options.segments, options.block);
  if (carve) {
    settings.outputDir = options.outputDir;
    settings.partsDir = partsDir;
  }
  platform::StopRequests stopRequests;
  settings.stopFlag = platform::StopRequests::Flag();
  ProgressMeter meter(ProgressMeter::Choose(options.quiet, stderr), stderr);
  const uint64_t share = std::min(settings.segmentBytes, settings.end - settings.start);
  settings.progress = [&](uint64_t done) {
    ProgressSnapshot snapshot;
    snapshot.done = std::min(done, share);
    snapshot.total = share;
    meter.Update(snapshot);
  };
  SegmentHost host(options, selection, settings.end);
  SegmentLog log;
  const std::string began = UtcNow();
  const ParallelOutcome outcome = RunOneSegment(host, settings, options.segment - 1, &log);
  meter.Finish();
  switch (outcome.status) {
    case ParallelOutcome::Status::kFinished:
      break;
    case ParallelOutcome::Status::kStopped:
      Message("segment " + name + " interrupted by " + platform::StopRequests::Name() +
              "; a segment run keeps no state: run it again");
      return kExitStoppedUnsaved;
    case ParallelOutcome::Status::kUnreadable:
      Message("segment " + name + " met blocks of the source that cannot be read; carve or scan this source on one "
              "machine, which reads them as zeros and records where");
      return kExitSource;
    case ParallelOutcome::Status::kFailed:
      Message(outcome.error);
      return outcome.outputFailed ? kExitOutput : kExitSource;
  }
  if (carve) log.root = name + "/" + std::to_string(options.segment - 1);
  uint64_t found = 0;
  for (const SegmentEntry& entry : log.log)
    for (const SegmentEvent& event : entry.events)
      found += event.closed ? event.disposition == TYPERECOVERY_FILE_KEPT : 1;
  nlohmann::json partial;
  partial["typerecovery_partial"] = 1;
  partial["command"] = options.ModeName();
  partial["segment"] = options.segment;
  partial["segments"] = options.segments;
  partial["source"] = SourceIdentity(options, reader);
  partial["settings"] = FindingSettings(options);
  partial["codes"] = selection.Codes(catalog);
  partial["segment_bytes"] = settings.segmentBytes;
  partial["command_line"] = options.commandLine;
  partial["start_time"] = began;
  partial["end_time"] = UtcNow();
  partial["files"] = found;
  partial["result"] = SegmentLogToJson(log);
  if (!WriteJsonFile(partialPath, partial)) {
    Message("cannot write the partial result " + partialPath + ": " + std::strerror(errno));
    return kExitOutput;
  }
  if (!options.quiet) {
    Message("segment " + std::to_string(options.segment) + " of " + std::to_string(options.segments) + ": bytes " +
            std::to_string(log.begin) + " to " + std::to_string(log.end) + ", on to " + std::to_string(log.stop) +
            "; " + std::to_string(found) + " file(s) found before the merge decides; partial result: " + partialPath);
    Message("when every segment is done: typerecovery merge " +
            (carve ? options.outputDir : std::string("PARTIAL...")));
  }
  return kExitOk;
}

}  // namespace trcli
