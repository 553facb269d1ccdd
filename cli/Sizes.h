// Sizes on the command line and on screen. Input accepts a plain byte count
// or a number with a binary suffix K, M, G or T (KiB, MiB... and KB, MB...
// are read the same way: 1K is 1024 bytes); hexadecimal counts start "0x".
#ifndef TYPERECOVERY_CLI_SIZES_H
#define TYPERECOVERY_CLI_SIZES_H

#include <cstdint>
#include <optional>
#include <string>

namespace trcli {

std::optional<uint64_t> ParseSize(const std::string& text);
// "512 B", "1.5 KiB", "12.3 MiB", ...
std::string FormatBytes(uint64_t bytes);
// "0:07", "1:02:03"
std::string FormatDuration(double seconds);

}  // namespace trcli

#endif
