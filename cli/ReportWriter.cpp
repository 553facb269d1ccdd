// The JSON Lines, CSV and DFXML writers of found-file records, and the
// picture fields taken from the library's picture records.
#include "ReportWriter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "PhotoDates.h"
#include "Platform.h"
#include "Text.h"
#include "TypeCatalog.h"

namespace trcli {
namespace {

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

// JSON Lines: nlohmann's dump escapes control characters and keeps UTF-8;
// texts from damaged metadata that are not UTF-8 are replaced, not dropped.
class JsonLinesWriter : public ReportWriter {
 public:
  explicit JsonLinesWriter(const ReportContext& context) : m_context(context) {}
  std::string Header() const override { return ""; }
  std::string Footer(const RunEnd&) const override { return ""; }
  std::string Record(const FoundFile& file) const override {
    nlohmann::ordered_json record;
    if (m_context.carve && file.duplicateOf.empty()) record["file"] = file.path;
    if (!file.duplicateOf.empty()) record["duplicate_of"] = file.duplicateOf;
    record["offset"] = file.offset;
    record["size"] = file.size;
    record["type_code"] = file.typeCode;
    record["group"] = TypeCatalog::GroupName(file.typeCode);
    record["extension"] = file.extension;
    record["complete"] = file.complete;
    if (file.leadIn != 0) record["zero_filled_lead_in"] = file.leadIn;
    if (file.picture) {
      const PictureData& p = *file.picture;
      nlohmann::ordered_json picture;
      picture["width"] = p.width;
      picture["height"] = p.height;
      // Fields the picture does not carry are left out, not written empty.
      const std::pair<const char*, const std::string*> texts[] = {
          {"make", &p.make}, {"model", &p.model}, {"software", &p.software},
          {"exif_version", &p.exifVersion}, {"date_time_original", &p.dateTimeOriginal},
          {"date_time", &p.dateTime}};
      for (const auto& text : texts)
        if (!text.second->empty()) picture[text.first] = *text.second;
      if (p.HasGps()) {
        picture["gps"] = {{"latitude_ref", p.latitudeRef}, {"latitude", p.latitude},
                          {"longitude_ref", p.longitudeRef}, {"longitude", p.longitude},
                          {"altitude_ref", p.altitudeRef}, {"altitude", p.altitude}};
      }
      record["picture"] = picture;
    }
    if (m_context.pieced) {
      nlohmann::ordered_json pieces = nlohmann::ordered_json::array();
      for (const MediaRun& run : file.Runs()) pieces.push_back({{"offset", run.offset}, {"length", run.length}});
      record["pieces"] = pieces;
    }
    if (!m_context.hashName.empty()) {
      record[ToLower(m_context.hashName)] =
          file.hash.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(file.hash);
    }
    if (file.zeroFilled) record["unreadable_read_as_zeros"] = true;
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }

 private:
  ReportContext m_context;
};

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

class CsvWriter : public ReportWriter {
 public:
  explicit CsvWriter(const ReportContext& context) : m_context(context) {}
  std::string Header() const override {
    std::string line =
        "offset,size,type_code,group,extension,complete,width,height,make,model,software,"
        "exif_version,date_time_original,date_time,gps_latitude_ref,gps_latitude,"
        "gps_longitude_ref,gps_longitude,gps_altitude_ref,gps_altitude,unreadable_read_as_zeros";
    if (!m_context.hashName.empty()) line += "," + ToLower(m_context.hashName);
    if (m_context.carve) line += ",file,zero_filled_lead_in";
    if (m_context.dedup) line += ",duplicate_of";
    if (m_context.pieced) line += ",pieces";
    return line + "\n";
  }
  std::string Footer(const RunEnd&) const override { return ""; }
  std::string Record(const FoundFile& file) const override {
    std::string line = std::to_string(file.offset) + "," + std::to_string(file.size) + "," +
                       std::to_string(file.typeCode) + "," + TypeCatalog::GroupName(file.typeCode) +
                       "," + CsvField(file.extension) + "," + (file.complete ? "1" : "0");
    if (file.picture) {
      const PictureData& p = *file.picture;
      line += "," + std::to_string(p.width) + "," + std::to_string(p.height);
      for (const std::string* text : {&p.make, &p.model, &p.software, &p.exifVersion,
                                      &p.dateTimeOriginal, &p.dateTime})
        line += "," + CsvField(*text);
      if (p.HasGps()) {
        line += "," + CsvField(p.latitudeRef) + "," + Number(p.latitude) + "," +
                CsvField(p.longitudeRef) + "," + Number(p.longitude) + "," +
                CsvField(p.altitudeRef) + "," + Number(p.altitude);
      } else {
        line += ",,,,,,";
      }
    } else {
      line += std::string(14, ',');  // no picture: width to altitude empty
    }
    // 1 when some of the file's source bytes could not be read: the file
    // (and its digest) holds zeros in their place.
    line += file.zeroFilled ? ",1" : ",0";
    if (!m_context.hashName.empty()) line += "," + file.hash;
    if (m_context.carve) line += "," + CsvField(file.path) + "," + std::to_string(file.leadIn);
    if (m_context.dedup) line += "," + CsvField(file.duplicateOf);
    if (m_context.pieced) {
      // offset:length of each piece, separated by spaces.
      std::string pieces;
      for (const MediaRun& run : file.Runs())
        pieces += (pieces.empty() ? "" : " ") + std::to_string(run.offset) + ":" + std::to_string(run.length);
      line += "," + pieces;
    }
    return line + "\n";
  }

 private:
  ReportContext m_context;
};

// Paths that are not UTF-8 show their stray bytes as \xHH: XML is UTF-8.
std::string XmlText(const std::string& raw) {
  std::string text = EscapeInvalidUtf8(raw);
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') out += "?";  // not allowed in XML 1.0
    else out += c;
  }
  return out;
}

// The tool's own fields (type, complete flag, picture metadata, the run's
// end) are elements of its own namespace, which DFXML admits in a
// fileobject and at the end of the document.
class DfxmlWriter : public ReportWriter {
 public:
  explicit DfxmlWriter(const ReportContext& context) : m_context(context) {}
  std::string Header() const override {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<dfxml version=\"2.0.0\"\n"
        "       xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\"\n"
        "       xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
        "       xmlns:tr=\"" + std::string(kToolXmlNamespace) + "\">\n"
        "  <metadata>\n"
        "    <dc:type>" + std::string(m_context.carve ? "Carve Report" : "Scan Report") + "</dc:type>\n"
        "  </metadata>\n"
        "  <creator>\n"
        "    <program>typerecovery</program>\n"
        "    <version>" TYPERECOVERY_TOOL_VERSION "</version>\n";
    if (!m_context.commandLine.empty() || !m_context.startTime.empty()) {
      out += "    <execution_environment>\n";
      if (!m_context.commandLine.empty())
        out += "      <command_line>" + XmlText(m_context.commandLine) + "</command_line>\n";
      if (!m_context.startTime.empty())
        out += "      <start_time>" + m_context.startTime + "</start_time>\n";
      out += "    </execution_environment>\n";
    }
    out += "  </creator>\n  <source>\n    <image_filename>" + XmlText(m_context.sourcePath) +
           "</image_filename>\n  </source>\n";
    return out;
  }
  std::string Footer(const RunEnd& end) const override {
    std::string out;
    if (end.withUsage) out += Usage();
    for (const MediaRun& run : end.unreadable)
      out += "  <tr:unreadable offset=\"" + std::to_string(run.offset) + "\" length=\"" + std::to_string(run.length) +
             "\"/>\n";
    if (end.faults != 0) out += "  <tr:recognizer_faults count=\"" + std::to_string(end.faults) + "\"/>\n";
    if (!end.status.empty()) {
      out += "  <tr:run status=\"" + XmlText(end.status) + "\"";
      if (!end.endTime.empty()) out += " end_time=\"" + end.endTime + "\"";
      if (!end.detail.empty()) out += " detail=\"" + XmlText(end.detail) + "\"";
      out += "/>\n";
    }
    return out + "</dfxml>\n";
  }
  std::string Record(const FoundFile& file) const override {
    std::string out = "  <fileobject>\n";
    out += "    <filename>" + XmlText(ReportFileName(file)) + "</filename>\n";
    out += "    <filesize>" + std::to_string(file.size) + "</filesize>\n";
    out += "    <byte_runs>\n";
    // A zero-filled lead-in has no place in the source; the bytes after it
    // lie in the source in one run, or in the free-space pieces listed.
    const uint64_t leadIn = std::min(file.leadIn, file.size);
    if (leadIn != 0)
      out += "      <byte_run file_offset=\"0\" len=\"" + std::to_string(leadIn) + "\" fill=\"0\"/>\n";
    std::vector<MediaRun> runs = file.pieces;
    if (runs.empty()) runs.push_back({file.offset + leadIn, file.size - leadIn});
    uint64_t fileOffset = leadIn;
    for (const MediaRun& run : runs) {
      out += "      <byte_run file_offset=\"" + std::to_string(fileOffset) + "\" img_offset=\"" +
             std::to_string(run.offset) + "\" len=\"" + std::to_string(run.length) + "\"/>\n";
      fileOffset += run.length;
    }
    out += "    </byte_runs>\n";
    if (!m_context.hashName.empty() && !file.hash.empty())
      out += "    <hashdigest type=\"" + ToLower(m_context.hashName) + "\">" + file.hash + "</hashdigest>\n";
    out += "    <tr:type_code>" + std::to_string(file.typeCode) + "</tr:type_code>\n";
    out += "    <tr:extension>" + XmlText(file.extension) + "</tr:extension>\n";
    out += std::string("    <tr:complete>") + (file.complete ? "1" : "0") + "</tr:complete>\n";
    if (!file.duplicateOf.empty())
      out += "    <tr:duplicate_of>" + XmlText(file.duplicateOf) + "</tr:duplicate_of>\n";
    if (!m_context.hashName.empty() && file.hash.empty())
      out += "    <tr:hash_missing>the bytes could not all be read</tr:hash_missing>\n";
    // The file (and its digest, when there is one) holds zeros in place of
    // source bytes that could not be read.
    if (file.zeroFilled) out += "    <tr:unreadable_read_as_zeros>1</tr:unreadable_read_as_zeros>\n";
    if (file.picture) {
      const PictureData& p = *file.picture;
      out += "    <tr:picture width=\"" + std::to_string(p.width) + "\" height=\"" + std::to_string(p.height) + "\"";
      const std::pair<const char*, const std::string*> texts[] = {
          {"make", &p.make}, {"model", &p.model}, {"software", &p.software},
          {"exif_version", &p.exifVersion}, {"date_time_original", &p.dateTimeOriginal},
          {"date_time", &p.dateTime}};
      for (const auto& text : texts)
        if (!text.second->empty()) out += std::string(" ") + text.first + "=\"" + XmlText(*text.second) + "\"";
      if (p.HasGps()) {
        out += " gps_latitude=\"" + Number(p.latitude) + "\" gps_latitude_ref=\"" + XmlText(p.latitudeRef) +
               "\" gps_longitude=\"" + Number(p.longitude) + "\" gps_longitude_ref=\"" +
               XmlText(p.longitudeRef) + "\" gps_altitude=\"" + Number(p.altitude) + "\"";
      }
      out += "/>\n";
    }
    out += "  </fileobject>\n";
    return out;
  }

 private:
  static std::string Usage() {
    platform::ResourceUsage usage;
    if (!platform::GetResourceUsage(&usage)) return "";
    std::string out = "  <rusage>\n    <utime>" + Number(usage.userSeconds) + "</utime>\n    <stime>" +
                      Number(usage.systemSeconds) + "</stime>\n    <maxrss>" + std::to_string(usage.maxResidentKiB) +
                      "</maxrss>\n";
    if (usage.hasCounts) {
      out += "    <minflt>" + std::to_string(usage.minorFaults) + "</minflt>\n    <majflt>" +
             std::to_string(usage.majorFaults) + "</majflt>\n    <nswap>" + std::to_string(usage.swaps) +
             "</nswap>\n    <inblock>" + std::to_string(usage.blocksIn) + "</inblock>\n    <oublock>" +
             std::to_string(usage.blocksOut) + "</oublock>\n";
    }
    return out + "  </rusage>\n";
  }

  ReportContext m_context;
};

}  // namespace

std::vector<MediaRun> FoundFile::Runs() const {
  if (!pieces.empty()) return pieces;
  return {MediaRun{offset, size}};
}

bool PictureData::HasGps() const {
  return !latitudeRef.empty() || !longitudeRef.empty() || latitude != 0 || longitude != 0 ||
         altitude != 0;
}

PictureData FromPictureInfo(const tag_PictureInfo& info) {
  PictureData p;
  p.typeCode = info.typeCode;
  p.width = info.width;
  p.height = info.height;
  p.software = Utf16ToUtf8(info.software, 64);
  p.exifVersion = Utf16ToUtf8(info.exifVersion, 5);
  p.make = Utf16ToUtf8(info.make, 32);
  p.model = Utf16ToUtf8(info.model, 40);
  p.dateTimeOriginal = ExifDateToIso(Utf16ToUtf8(info.dateTimeOriginal, 20));
  p.dateTime = ExifDateToIso(Utf16ToUtf8(info.dateTime, 20));
  p.latitudeRef = Utf16ToUtf8(info.gpsLatitudeRef, 4);
  p.longitudeRef = Utf16ToUtf8(info.gpsLongitudeRef, 4);
  p.altitudeRef = Utf16ToUtf8(info.gpsAltitudeRef, 16);
  p.latitude = info.gpsLatitude;
  p.longitude = info.gpsLongitude;
  p.altitude = info.gpsAltitude;
  return p;
}

bool ParseReportFormat(const std::string& name, ReportFormat* format) {
  std::string lower = ToLower(name);
  if (lower == "jsonl" || lower == "json") *format = ReportFormat::kJsonLines;
  else if (lower == "csv") *format = ReportFormat::kCsv;
  else if (lower == "dfxml" || lower == "xml") *format = ReportFormat::kDfxml;
  else return false;
  return true;
}

const char* ReportFormatName(ReportFormat format) {
  switch (format) {
    case ReportFormat::kCsv: return "csv";
    case ReportFormat::kDfxml: return "dfxml";
    default: return "jsonl";
  }
}

std::unique_ptr<ReportWriter> MakeReportWriter(ReportFormat format, const ReportContext& context) {
  switch (format) {
    case ReportFormat::kCsv: return std::make_unique<CsvWriter>(context);
    case ReportFormat::kDfxml: return std::make_unique<DfxmlWriter>(context);
    default: return std::make_unique<JsonLinesWriter>(context);
  }
}

const char* const kToolXmlNamespace = "urn:x-typerecovery:dfxml:1";

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  platform::UtcTime(now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string ReportFileName(const FoundFile& file) {
  if (!file.path.empty()) return file.path;
  char text[48];
  std::snprintf(text, sizeof text, "%012" PRIu64, file.offset);
  return std::string(text) + "." + file.extension;
}

}  // namespace trcli
