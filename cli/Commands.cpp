// The tool's commands as CLI11 parses them: the options each takes, the help
// and examples it prints, and the work each does (carve and scan hand theirs
// to ExecuteRun).
#include "Commands.h"

#include <cerrno>
#include <cinttypes>
#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "EvidenceSource.h"
#include "ExitCodes.h"
#include "Merge.h"
#include "Message.h"
#include "Platform.h"
#include "ReportWriter.h"
#include "Scanner.h"
#include "Segment.h"
#include "Sizes.h"
#include "Text.h"
#include "TypeDescriptions.h"
#include "typerecovery.h"

namespace trcli {
namespace {

std::string Join(const std::vector<std::string>& pieces, const std::string& separator) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) out += (i ? separator : "") + pieces[i];
  return out;
}

std::string MaxText(const TypeInfo& type) {
  return type.hasDefaultMax && type.defaultMax != UINT64_MAX ? FormatBytes(type.defaultMax) : "none";
}

// The strings behind the size options, converted after parsing so that every
// bad value gets the same clear message.
struct SizeOption {
  std::string text;
  CLI::Option* option = nullptr;
};

bool ConvertSize(const SizeOption& size, const char* name, std::optional<uint64_t>* value) {
  if (size.option == nullptr || size.option->count() == 0) return true;
  auto parsed = ParseSize(size.text);
  if (!parsed) {
    Message(std::string("bad size for ") + name + ": '" + size.text + "' (use a byte count or a number with K, M, G)");
    return false;
  }
  *value = parsed;
  return true;
}

struct RunCommand {
  CLI::App* app = nullptr;
  RunOptions options;
  std::string formatText = "jsonl";
  SizeOption restricted, minSize, block, offset, length;
  std::string segmentText;
  CLI::Option* segment = nullptr;
  std::string resolutionText;
  CLI::Option* resolution = nullptr;
  CLI::Option* types = nullptr;
  std::vector<std::pair<std::string, CLI::Option*>> named;
};

void AddRunOptions(RunCommand& command) {
  CLI::App* app = command.app;
  RunOptions& o = command.options;
  app->add_option("SOURCE", o.source,
                  "Image (raw, first segment of a split raw, E01, AFF, VHD, VMDK), block device, or - for standard "
                  "input")->required();
  command.named.emplace_back("source-format", app->add_option("--source-format", o.sourceFormat,
      "Read SOURCE as auto (by its content, the default), raw, split, ewf, aff, vhd or vmdk"));
  command.named.emplace_back("partition", app->add_option("--partition", o.partition,
      "Only this partition, numbered as 'typerecovery partitions' lists them; offsets stay media offsets"));
  command.named.emplace_back("unallocated", app->add_flag("--unallocated", o.unallocated,
      "Only the blocks the file system marks free (of --partition, or of every partition with a readable one)"));
  command.named.emplace_back("types", command.types = app->add_option("-t,--types", o.types,
      "Types to find: extensions, type numbers (as 'types' lists them) or groups (photos, documents, audio, video, archives, "
      "internet, graphics, mail, other), comma-separated; default: all (library-default: the library's own list)")->delimiter(','));
  command.named.emplace_back("max-size", app->add_option("--max-size", o.maxSizes,
      "Maximum file size of a type, EXT=SIZE (repeatable or comma-separated), e.g. jpg=16M")->delimiter(','));
  command.restricted.option = app->add_option("--skip-larger,--restricted-size", command.restricted.text,
      "Found files larger than SIZE are not kept or listed (K, M, G suffixes)");
  command.named.emplace_back("skip-larger", command.restricted.option);
  command.minSize.option = app->add_option("--min-size", command.minSize.text,
      "Found files smaller than SIZE are not kept or listed");
  command.named.emplace_back("min-size", command.minSize.option);
  command.resolution = app->add_option("--min-resolution", command.resolutionText,
      "Pictures smaller than WxH (either side) are not kept or listed; pictures of unknown size are");
  command.named.emplace_back("min-resolution", command.resolution);
  command.block.option = app->add_option("--block", command.block.text,
      "Block size: files are looked for where a block starts; a power of two from 512 to 1M (default 512)");
  command.named.emplace_back("block", command.block.option);
  command.offset.option = app->add_option("--offset", command.offset.text, "Start scanning at this byte of the source");
  command.named.emplace_back("offset", command.offset.option);
  command.length.option = app->add_option("--length", command.length.text, "Scan only this many bytes");
  command.named.emplace_back("length", command.length.option);
  app->add_flag("-q,--quiet", o.quiet, "No progress display and no notes");
  app->add_option("--state", o.statePath, "State file for interruption and resume");
  app->add_flag("--resume", o.resume, "Continue the run saved in the state file");
  app->add_option("--autosave", o.autosaveSeconds, "Seconds between automatic state saves (0: only on stop)")
      ->capture_default_str();
  o.jobs = std::max(1u, std::thread::hardware_concurrency());
  app->add_option("-j,--jobs", o.jobs,
                  "Analyse on N cores (default: all); the results are the same for every N")
      ->check(CLI::Range(1u, 1024u));
  command.segment = app->add_option("--segment", command.segmentText,
      "Only segment K of N (K from 1 to N), on to where its results meet segment K+1's; writes a partial result "
      "for 'merge' (a carve below OUT/.typerecovery-segments, a scan to -o FILE)");
  // Small segments let tests cut small images into many.
  app->add_option("--segment-bytes", o.segmentBytes, "")->group("")->check(CLI::Range(uint64_t{512}, UINT64_MAX));
}

bool FinishRunOptions(RunCommand& command, const std::string& commandLine,
                      const std::vector<std::string>& arguments) {
  RunOptions& o = command.options;
  std::optional<uint64_t> block;
  std::optional<uint64_t> offset;
  if (!ConvertSize(command.restricted, "--skip-larger", &o.restrictedSize) ||
      !ConvertSize(command.minSize, "--min-size", &o.minSize) ||
      !ConvertSize(command.block, "--block", &block) || !ConvertSize(command.offset, "--offset", &offset) ||
      !ConvertSize(command.length, "--length", &o.length))
    return false;
  if (block) {
    if (!IsValidBlock(*block)) {
      Message("--block must be a power of two from 512 to 1M");
      return false;
    }
    o.block = static_cast<uint32_t>(*block);
  }
  if (offset) o.offset = *offset;
  if (command.segment != nullptr && command.segment->count() > 0 &&
      !ParseSegment(command.segmentText, &o.segment, &o.segments)) {
    Message("--segment must be K/N with K from 1 to N, for example 2/4");
    return false;
  }
  if (o.offset % o.block != 0) {
    // Blocks are counted from --offset: an offset between block starts of
    // the source would move every block off the sectors files begin at.
    Message("--offset must be a multiple of the block size (--block, " + std::to_string(o.block) + ")");
    return false;
  }
  if (!(o.autosaveSeconds >= 0 && o.autosaveSeconds <= 86400 * 365)) {
    Message("--autosave must be a number of seconds from 0 up");
    return false;
  }
  for (const std::string& type : o.types) {
    if (type.find_first_not_of(" \t") == std::string::npos) {
      Message("--types names no type (an empty entry)");
      return false;
    }
  }
  if (command.types != nullptr && command.types->count() > 0 && o.types.empty()) {
    Message("--types names no type");
    return false;
  }
  if (o.block > 512 && !o.quiet && !o.resume)
    Message("note: with --block " + std::to_string(o.block) +
            " only files that begin at a multiple of it are found; files starting between block starts are missed");
  if ((o.restrictedSize && *o.restrictedSize == 0) || (o.minSize && *o.minSize == 0)) {
    Message("--skip-larger and --min-size must be above 0");
    return false;
  }
  if (command.resolution != nullptr && command.resolution->count() > 0 &&
      !ParseResolution(command.resolutionText, &o.minWidth, &o.minHeight)) {
    Message("--min-resolution must be WIDTHxHEIGHT, for example 640x480");
    return false;
  }
  if (!ParseReportFormat(command.formatText, &o.format)) {
    Message("--format must be jsonl, csv or dfxml");
    return false;
  }
  if (!o.hashName.empty()) o.hashName = ToLower(o.hashName);
  while (o.outputDir.size() > 1 && o.outputDir.back() == '/') o.outputDir.pop_back();
  for (const auto& entry : command.named)
    if (entry.second != nullptr && entry.second->count() > 0) o.given.insert(entry.first);
  if ((o.partition || o.unallocated) && (o.given.count("offset") > 0 || o.given.count("length") > 0)) {
    Message("--offset and --length select bytes of the media; they cannot be combined with --partition or "
            "--unallocated");
    return false;
  }
  o.commandLine = commandLine;
  o.arguments = arguments;
  return true;
}

}  // namespace

std::string FormatPartitions(const VolumeLayout& layout, bool json) {
  if (json) {
    nlohmann::ordered_json out;
    out["image_format"] = SourceFormatName(layout.format);
    out["media_size"] = layout.mediaSize;
    out["volume_system"] = layout.system.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(layout.system);
    out["sector_size"] = layout.sectorSize;
    nlohmann::ordered_json parts = nlohmann::ordered_json::array();
    for (const PartitionEntry& p : layout.partitions)
      parts.push_back({{"index", p.index}, {"start", p.start}, {"length", p.length}, {"type", p.type},
                       {"file_system", p.fileSystem.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(p.fileSystem)}});
    out["partitions"] = parts;
    if (layout.system.empty())
      out["file_system"] = layout.fileSystem.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(layout.fileSystem);
    return out.dump(2) + "\n";
  }
  std::string out = std::string(SourceFormatName(layout.format)) + " image, media of " +
                    std::to_string(layout.mediaSize) + " bytes (" + FormatBytes(layout.mediaSize) + ")\n";
  if (layout.system.empty()) {
    return out + "no partition table; file system of the whole media: " +
           (layout.fileSystem.empty() ? "none that can be read" : layout.fileSystem) + "\n";
  }
  out += "volume system: " + layout.system + ", " + std::to_string(layout.sectorSize) + "-byte sectors\n";
  char line[512];
  std::snprintf(line, sizeof line, "%5s  %14s  %14s  %-10s  %s\n", "index", "start", "length", "fs", "type");
  out += line;
  for (const PartitionEntry& p : layout.partitions) {
    std::snprintf(line, sizeof line, "%5u  %14" PRIu64 "  %14" PRIu64 "  %-10s  %s\n", p.index, p.start, p.length,
                  p.fileSystem.empty() ? "-" : p.fileSystem.c_str(), p.type.c_str());
    out += line;
  }
  return out;
}

namespace {

// The extension a code's files are written under: the description's, else
// the type's own, else the family's first.
std::string ExtensionOf(const TypeCatalog& catalog, const TypeInfo& type) {
  if (const TypeDescription* d = DescribeType(type.code)) return d->extension;
  if (!type.ownExtension.empty()) return type.ownExtension;
  const TypeInfo* head = catalog.Find(type.familyCode);
  return head != nullptr && !head->extensions.empty() ? head->extensions.front() : "";
}

// The types of one group (all when group is 0), by group, then extension,
// then code.
std::vector<const TypeInfo*> SortedTypes(const TypeCatalog& catalog, uint32_t group) {
  std::vector<const TypeInfo*> sorted;
  for (const TypeInfo& type : catalog.Types())
    if (group == 0 || TypeCatalog::GroupOf(type.code) == group) sorted.push_back(&type);
  std::stable_sort(sorted.begin(), sorted.end(), [&](const TypeInfo* a, const TypeInfo* b) {
    const uint32_t ga = TypeCatalog::GroupOf(a->code), gb = TypeCatalog::GroupOf(b->code);
    if (ga != gb) return ga < gb;
    const std::string ea = ToLower(ExtensionOf(catalog, *a)), eb = ToLower(ExtensionOf(catalog, *b));
    return ea != eb ? ea < eb : a->code < b->code;
  });
  return sorted;
}

}  // namespace

std::string FormatTypesTable(const TypeCatalog& catalog, uint32_t group) {
  std::string out;
  char line[512];
  std::snprintf(line, sizeof line, "%-9s  %-9s %5s  %11s  %s\n", "group", "extension", "code", "default max",
                "what it is");
  out += line;
  const std::vector<const TypeInfo*> sorted = SortedTypes(catalog, group);
  for (const TypeInfo* type : sorted) {
    const TypeDescription* d = DescribeType(type->code);
    std::string text = d != nullptr ? d->text : "";
    if (d != nullptr && d->aliases[0] != 0) text += "; also " + std::string(d->aliases);
    std::snprintf(line, sizeof line, "%-9s  %-9s %5u  %11s  %s\n", TypeCatalog::GroupName(type->code),
                  ExtensionOf(catalog, *type).c_str(), type->code, MaxText(*type).c_str(), text.c_str());
    out += line;
  }
  std::snprintf(line, sizeof line, "%zu types\n", sorted.size());
  return out + line;
}

std::string FormatTypesJson(const TypeCatalog& catalog, uint32_t group) {
  nlohmann::ordered_json types = nlohmann::ordered_json::array();
  for (const TypeInfo& type : catalog.Types()) {
    if (group != 0 && TypeCatalog::GroupOf(type.code) != group) continue;
    const TypeDescription* d = DescribeType(type.code);
    nlohmann::ordered_json entry;
    entry["code"] = type.code;
    entry["group"] = TypeCatalog::GroupName(type.code);
    entry["family"] = type.familyCode;
    entry["extensions"] = catalog.IsFamilyHead(type) ? type.extensions : std::vector<std::string>();
    entry["default_max"] = type.hasDefaultMax && type.defaultMax != UINT64_MAX
                               ? nlohmann::ordered_json(type.defaultMax)
                               : nlohmann::ordered_json();
    entry["extension"] = ExtensionOf(catalog, type);
    if (d != nullptr) entry["description"] = d->text;
    types.push_back(entry);
  }
  return types.dump(2) + "\n";
}

int CheckFile(const std::string& path, const std::string& extensionArg, uint64_t bytes, FILE* out) {
  std::string extension = extensionArg;
  if (extension.empty()) {
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
      Message(path + " has no extension; name the type with --as EXT");
      return kExitUsage;
    }
    extension = name.substr(dot + 1);
  }
  int fd = platform::OpenForReading(path);
  if (fd < 0) {
    Message("cannot open " + path + ": " + std::strerror(errno));
    return kExitSource;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(bytes) + 16, 0);
  size_t filled = 0;
  while (filled < bytes) {
    long long got = platform::Read(fd, buffer.data() + filled, static_cast<size_t>(bytes) - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      Message("cannot read " + path + ": " + std::strerror(errno));
      platform::Close(fd);
      return kExitSource;
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  platform::Close(fd);
  std::u16string wide = Utf8ToUtf16(extension);
  int32_t answer = TypeRecovery_IsFileHeaderMatched(buffer.data(), static_cast<uint32_t>(filled), wide.c_str());
  std::string shown = !extension.empty() && extension[0] == '.' ? extension.substr(1) : extension;
  if (answer == 1) {
    std::fprintf(out, "%s: begins like a %s file\n", path.c_str(), shown.c_str());
    return kExitOk;
  }
  if (answer == -1) {
    std::fprintf(out, "%s: does not begin like a %s file\n", path.c_str(), shown.c_str());
    return kExitNoMatch;
  }
  std::fprintf(out, "%s: the extension '%s' names no type that header verification knows\n", path.c_str(),
               extension.c_str());
  return kExitUnknownType;
}

namespace {

const char kExitStatuses[] =
    "Exit status: 0 done; 1 check: no match; 2 bad arguments; 3 the source cannot be read;\n"
    "4 the output cannot be written or another run holds it; 5 state file missing, damaged or of another run;\n"
    "6 check: unknown extension; 7 interrupted, no state kept; 130 interrupted (the state is saved).\n";

// The options of carve and scan under headings, in the order a user decides
// them, each value named for what it is; an option not named here stays
// under "Options".
void GroupOptions(CLI::App* command) {
  struct Placement {
    const char* name;
    const char* group;
    const char* value;  // "" for a flag
  };
  static const Placement kPlacements[] = {
      {"--types", "What to find", "LIST"},        {"--max-size", "What to find", "EXT=SIZE"},
      {"--skip-larger", "What to find", "SIZE"},  {"--min-size", "What to find", "SIZE"},
      {"--min-resolution", "What to find", "WxH"}, {"--block", "What to find", "SIZE"},
      {"--source-format", "Where to look", "FORMAT"}, {"--partition", "Where to look", "N"},
      {"--unallocated", "Where to look", ""},     {"--offset", "Where to look", "SIZE"},
      {"--length", "Where to look", "SIZE"},      {"--output", "Output", ""},
      {"--append", "Output", ""},                 {"--dedup", "Output", ""},
      {"--set-mtime", "Output", ""},              {"--report", "Output", "FILE"},
      {"--format", "Output", "FORMAT"},           {"--hash", "Output", "ALGORITHM"},
      {"--quiet", "Output", ""},                  {"--jobs", "Many cores", "N"},
      {"--segment", "Many cores", "K/N"},            {"--state", "Interruption and resume", "FILE"},
      {"--resume", "Interruption and resume", ""}, {"--autosave", "Interruption and resume", ""}};
  for (const Placement& p : kPlacements) {
    CLI::Option* option = command->get_option_no_throw(p.name);
    if (option == nullptr) continue;
    option->group(p.group);
    if (*p.value != 0) option->type_name(p.value);
  }
  if (CLI::Option* output = command->get_option_no_throw("--output"))
    output->type_name(command->get_name() == "carve" ? "DIR" : "FILE");
  if (CLI::Option* source = command->get_option_no_throw("SOURCE")) source->type_name("");
}

CLI::App* FindCommand(CLI::App& app, const std::string& name) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    if (sub->get_name() == name) return sub;
  return nullptr;
}

// The program's name as it was invoked (not its path), placeholders that say
// what a value is, and examples with the exit statuses under each command's
// help.
void DescribeForPeople(CLI::App& app, const std::string& invokedAs) {
  const size_t slash = invokedAs.find_last_of("/\\");
  std::string name = slash == std::string::npos ? invokedAs : invokedAs.substr(slash + 1);
  // On Windows people type the name without its .exe.
  if (name.size() > 4 && ToLower(name.substr(name.size() - 4)) == ".exe") name.resize(name.size() - 4);
  app.name(name);
  app.get_formatter()->label("TEXT", "VALUE");
  app.get_formatter()->label("FLOAT", "SECONDS");
  app.footer("Examples:\n  " + name + " carve disk.img -o recovered\n  " + name +
             " scan /dev/sdb1 -t photos -o found.csv --format csv\n  " + name + " types --group photos\n\n" +
             "Run '" + name + " COMMAND --help' for a command's options.\n" + kExitStatuses);
  const std::pair<const char*, std::string> kExamples[] = {
      {"carve", "  " + name + " carve disk.img -o recovered\n  " + name +
                    " carve /dev/sdb1 -o recovered -t jpg,nef --max-size jpg=32M\n  " + name +
                    " carve disk.img -o photos -t photos --dedup --set-mtime --min-resolution 640x480\n  " + name +
                    " carve disk.img -o recovered --resume      # after Ctrl-C\n"},
      {"scan", "  " + name + " scan disk.img\n  " + name + " scan disk.img --format dfxml --hash sha256 -o found.xml\n"},
      {"partitions", "  " + name + " partitions disk.E01\n"},
      {"types", "  " + name + " types\n  " + name + " types --group photos --json\n"},
      {"check", "  " + name + " check photo.jpg\n  " + name + " check recovered.bin --as pdf\n"},
      {"merge", "  parallel " + name + " carve disk.img --segment {}/4 -o recovered ::: 1 2 3 4\n  " + name +
                    " merge recovered\n"}};
  for (const auto& [command, examples] : kExamples)
    if (CLI::App* sub = FindCommand(app, command))
      sub->footer("Examples:\n" + examples + "\n" + kExitStatuses);
  for (const char* command : {"carve", "scan"})
    if (CLI::App* sub = FindCommand(app, command)) GroupOptions(sub);
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  CLI::App app{"typerecovery: recovers files from disk images, partitions and devices by their content"};
  app.set_version_flag("--version", std::string("typerecovery ") + TYPERECOVERY_TOOL_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);

  std::vector<std::string> words = platform::StartProgram(argc, argv);
  std::string commandLine = Join(words, " ");
  // A "/path" is a path, never a Windows-style option.
  app.allow_windows_style_options(false);

  RunCommand carve;
  carve.app = app.add_subcommand("carve", "Write the files found in SOURCE below an output folder");
  carve.options.mode = RunOptions::Mode::kCarve;
  AddRunOptions(carve);
  carve.named.emplace_back("output", carve.app->add_option("-o,--output", carve.options.outputDir,
                                                           "Output folder (created if missing)")->required());
  carve.app->add_flag("--append", carve.options.append,
      "Carve into a folder that already holds a carve: new files take the next free numbers and "
      "this run's audit is report-N.xml");
  carve.named.emplace_back("dedup", carve.app->add_flag("--dedup", carve.options.dedup,
      "A found file with the same bytes as one already written is not written again; its record in the "
      "audit points at the first"));
  carve.named.emplace_back("set-mtime", carve.app->add_flag("--set-mtime", carve.options.setMtime,
      "Give each carved picture the date it was taken (its EXIF original date, read as local time) as its "
      "modification time; pictures without one keep the time they were written"));
  carve.named.emplace_back("report", carve.app->add_option("--report", carve.options.reportPath,
      "Also write a report of the found files to this file"));
  carve.named.emplace_back("format", carve.app->add_option("--format", carve.formatText,
      "Report format: jsonl, csv or dfxml (default jsonl)"));
  carve.named.emplace_back("hash", carve.app->add_option("--hash", carve.options.hashName,
      "Hash each written file in the audit and the report: sha256, md5 or sha1"));

  RunCommand scan;
  scan.app = app.add_subcommand("scan", "Report the files found in SOURCE without writing them");
  scan.options.mode = RunOptions::Mode::kScan;
  AddRunOptions(scan);
  scan.named.emplace_back("output", scan.app->add_option("-o,--output", scan.options.reportPath,
      "Report file (default: standard output)"));
  scan.named.emplace_back("format", scan.app->add_option("--format", scan.formatText,
      "Report format: jsonl (default), csv or dfxml"));
  scan.named.emplace_back("hash", scan.app->add_option("--hash", scan.options.hashName,
      "Hash each found file, read back from the source: sha256, md5 or sha1"));

  CLI::App* merge = app.add_subcommand(
      "merge", "Join the partial results of 'carve --segment' or 'scan --segment' runs into one run's results");
  MergeOptions mergeOptions;
  merge->add_option("PARTIAL", mergeOptions.partials,
                    "Partial-result files, or folders holding them (a carve's output folder)")
      ->required()
      ->type_name("");
  merge->add_option("-o,--output", mergeOptions.output,
                    "carve: the merged folder (default: the one the partials lie in); scan: the report file "
                    "(default: standard output)")
      ->type_name("OUT");
  merge->add_flag("-q,--quiet", mergeOptions.quiet, "No progress display and no notes");

  CLI::App* types = app.add_subcommand("types", "List the supported file types, by group and extension");
  bool typesJson = false;
  std::string typesGroup;
  types->add_flag("--json", typesJson, "As JSON (in the library's order)");
  types->add_option("--group", typesGroup,
                    "Only this group: photos, documents, audio, video, archives, internet, graphics, mail, other");

  CLI::App* check = app.add_subcommand("check", "Does FILE begin like a file of its type?");
  std::string checkPath, checkAs, checkBytesText = "4096";
  check->add_option("FILE", checkPath, "The file to test")->required();
  check->add_option("--as", checkAs, "Test against this extension instead of the file's own");
  check->add_option("--bytes", checkBytesText, "How many first bytes of the file to test (default 4096)");

  CLI::App* partitions = app.add_subcommand("partitions", "List the partitions of SOURCE and their file systems");
  std::string partitionsSource, partitionsFormat = "auto";
  bool partitionsJson = false;
  partitions->add_option("SOURCE", partitionsSource, "Image or block device")->required();
  partitions->add_option("--source-format", partitionsFormat,
                         "Read SOURCE as auto (the default), raw, split, ewf, aff, vhd or vmdk");
  partitions->add_flag("--json", partitionsJson, "As JSON");

  DescribeForPeople(app, words.empty() ? "typerecovery" : words[0]);
  // What people type to ask for help or the version: no arguments, "help",
  // "help COMMAND", "version" and -V.
  std::vector<std::string> asked(words.begin() + (words.empty() ? 0 : 1), words.end());
  std::string helpFor;  // "help COMMAND": that command's --help
  if (asked.empty() || (asked.size() == 1 && asked[0] == "help")) {
    std::fputs(app.help().c_str(), stdout);
    return kExitOk;
  }
  if (asked.size() == 2 && asked[0] == "help") {
    if (FindCommand(app, asked[1]) == nullptr) {
      Message("no command '" + asked[1] + "'; the commands are carve, scan, merge, partitions, types and check");
      return kExitUsage;
    }
    helpFor = asked[1];
  }
  if (asked.size() == 1 && (asked[0] == "version" || asked[0] == "-V")) {
    std::printf("typerecovery %s\n", TYPERECOVERY_TOOL_VERSION);
    return kExitOk;
  }

  try {
    if (!helpFor.empty()) {
      app.parse(helpFor + " --help", false);
    } else {
      // CLI11 takes the words after the program name, last first.
      std::vector<std::string> reversed(words.rbegin(), words.rend() - (words.empty() ? 0 : 1));
      app.parse(reversed);
    }
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  if (types->parsed()) {
    const uint32_t group = typesGroup.empty() ? 0 : TypeCatalog::GroupFromName(typesGroup);
    if (!typesGroup.empty() && group == 0) {
      Message("--group must be one of: photos, documents, audio, video, archives, internet, graphics, mail, other");
      return kExitUsage;
    }
    TypeCatalog catalog = TypeCatalog::FromLibrary();
    std::fputs((typesJson ? FormatTypesJson(catalog, group) : FormatTypesTable(catalog, group)).c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      Message(std::string("cannot write to standard output: ") + std::strerror(errno));
      return kExitOutput;
    }
    return kExitOk;
  }
  if (partitions->parsed()) {
    SourceFormat format;
    if (!ParseSourceFormat(partitionsFormat, &format)) {
      Message("--source-format must be auto, raw, split, ewf, aff, vhd or vmdk");
      return kExitUsage;
    }
    VolumeLayout layout;
    std::string error;
    if (!ReadVolumeLayout(partitionsSource, format, &layout, &error)) {
      Message(error);
      return kExitSource;
    }
    std::fputs(FormatPartitions(layout, partitionsJson).c_str(), stdout);
    return kExitOk;
  }
  if (check->parsed()) {
    auto bytes = ParseSize(checkBytesText);
    if (!bytes || *bytes == 0 || *bytes > (256u << 20)) {
      Message("--bytes must be a size from 1 to 256M");
      return kExitUsage;
    }
    int status = CheckFile(checkPath, checkAs, *bytes, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      Message(std::string("cannot write to standard output: ") + std::strerror(errno));
      return kExitOutput;
    }
    return status;
  }
  if (merge->parsed()) {
    mergeOptions.commandLine = commandLine;
    return ExecuteMerge(mergeOptions);
  }
  RunCommand& run = carve.app->parsed() ? carve : scan;
  if (!FinishRunOptions(run, commandLine, words)) return kExitUsage;
  if (&run == &carve && run.options.reportPath.empty() && run.options.given.count("format") > 0) {
    Message("--format describes the report: give --report FILE too");
    return kExitUsage;
  }
  return run.options.segments != 0 ? ExecuteSegment(run.options) : ExecuteRun(run.options);
}

}  // namespace trcli
