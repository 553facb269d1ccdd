// Digests of found files, read back from the source (OpenSSL's libcrypto).
#ifndef TYPERECOVERY_CLI_HASHER_H
#define TYPERECOVERY_CLI_HASHER_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace trcli {

// "sha256", "md5" or "sha1" (any case); false for anything else.
bool IsKnownHash(const std::string& name);

// Lower-case hex digest of size bytes at offset of fd (read with pread).
// Nothing when the bytes cannot all be read: a digest of fewer bytes than
// the reported size would describe a different file.
std::optional<std::string> HashRange(int fd, uint64_t offset, uint64_t size, const std::string& name);
// The same over any reader: read(position, into, size) fills all size bytes
// or answers false.
using ReadFunction = std::function<bool(uint64_t, uint8_t*, size_t)>;
std::optional<std::string> HashRead(const ReadFunction& read, uint64_t offset, uint64_t size,
                                    const std::string& name);
std::optional<std::string> HashBytes(const void* data, size_t size, const std::string& name);

}  // namespace trcli

#endif
