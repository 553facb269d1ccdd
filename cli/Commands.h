// The command line of the typerecovery tool: carve, scan, partitions, types
// and check, parsed with CLI11. Each command is also callable on its own so
// that tests can run it without a process.
#ifndef TYPERECOVERY_CLI_COMMANDS_H
#define TYPERECOVERY_CLI_COMMANDS_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "EvidenceSource.h"
#include "TypeCatalog.h"

namespace trcli {

// Parses argv and runs the command; answers the exit status (ExitCodes.h).
int RunCommandLine(int argc, char** argv);

// typerecovery types [--json]
// The supported types: a table by group and extension, one line per code
// with what it is; or JSON in the library's order. group 0: every group.
std::string FormatTypesTable(const TypeCatalog& catalog, uint32_t group = 0);
std::string FormatTypesJson(const TypeCatalog& catalog, uint32_t group = 0);

// typerecovery partitions SOURCE [--json]
std::string FormatPartitions(const VolumeLayout& layout, bool json);

// typerecovery check FILE [--as EXT] [--bytes N]: prints one line to out.
int CheckFile(const std::string& path, const std::string& extension, uint64_t bytes, FILE* out);

}  // namespace trcli

#endif
