#include "Hasher.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "Text.h"

namespace trcli {
namespace {

const EVP_MD* Digest(const std::string& name) {
  std::string lower = ToLower(name);
  if (lower == "sha256") return EVP_sha256();
  if (lower == "md5") return EVP_md5();
  if (lower == "sha1") return EVP_sha1();
  return nullptr;
}

struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextDeleter>;

std::string Hex(const unsigned char* bytes, unsigned size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::optional<std::string> Final(EVP_MD_CTX* context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (EVP_DigestFinal_ex(context, digest, &size) != 1) return std::nullopt;
  return Hex(digest, size);
}

}  // namespace

bool IsKnownHash(const std::string& name) { return Digest(name) != nullptr; }

std::optional<std::string> HashRange(int fd, uint64_t offset, uint64_t size, const std::string& name) {
  return HashRead(
      [fd](uint64_t position, uint8_t* into, size_t want) {
        while (want > 0) {
          ssize_t got = ::pread(fd, into, want, static_cast<off_t>(position));
          if (got < 0 && errno == EINTR) continue;
          if (got <= 0) return false;
          into += got;
          position += static_cast<uint64_t>(got);
          want -= static_cast<size_t>(got);
        }
        return true;
      },
      offset, size, name);
}

std::optional<std::string> HashRead(const ReadFunction& read, uint64_t offset, uint64_t size,
                                    const std::string& name) {
  const EVP_MD* digest = Digest(name);
  Context context(EVP_MD_CTX_new());
  if (digest == nullptr || !context || EVP_DigestInit_ex(context.get(), digest, nullptr) != 1)
    return std::nullopt;
  std::vector<uint8_t> buffer(1u << 20);
  uint64_t done = 0;
  while (done < size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
    if (!read(offset + done, buffer.data(), want)) return std::nullopt;
    EVP_DigestUpdate(context.get(), buffer.data(), want);
    done += want;
  }
  return Final(context.get());
}

std::optional<std::string> HashBytes(const void* data, size_t size, const std::string& name) {
  const EVP_MD* digest = Digest(name);
  Context context(EVP_MD_CTX_new());
  if (digest == nullptr || !context || EVP_DigestInit_ex(context.get(), digest, nullptr) != 1)
    return std::nullopt;
  EVP_DigestUpdate(context.get(), data, size);
  return Final(context.get());
}

}  // namespace trcli
