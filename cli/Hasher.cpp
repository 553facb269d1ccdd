// Digests (sha256, md5, sha1) of byte ranges read from a descriptor, a
// memory block or a read function, through libcrypto or the Windows crypto API.
#include "Hasher.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "Platform.h"
#include "Text.h"

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace trcli {
namespace {

std::string Hex(const unsigned char* bytes, unsigned size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

#if defined(_WIN32)
// The system's own crypto API (CNG).
const wchar_t* Algorithm(const std::string& name) {
  std::string lower = ToLower(name);
  if (lower == "sha256") return BCRYPT_SHA256_ALGORITHM;
  if (lower == "md5") return BCRYPT_MD5_ALGORITHM;
  if (lower == "sha1") return BCRYPT_SHA1_ALGORITHM;
  return nullptr;
}

class Digest {
 public:
  explicit Digest(const std::string& name) {
    const wchar_t* algorithm = Algorithm(name);
    if (algorithm == nullptr || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_algorithm, algorithm, nullptr, 0)))
      return;
    DWORD size = 0, written = 0;
    if (BCRYPT_SUCCESS(BCryptGetProperty(m_algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&size),
                                         sizeof size, &written, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(m_algorithm, &m_hash, nullptr, 0, nullptr, 0, 0)))
      m_size = size;
  }
  ~Digest() {
    if (m_hash != nullptr) BCryptDestroyHash(m_hash);
    if (m_algorithm != nullptr) BCryptCloseAlgorithmProvider(m_algorithm, 0);
  }
  bool Ready() const { return m_size != 0; }
  bool Update(const void* data, size_t size) {
    return BCRYPT_SUCCESS(BCryptHashData(m_hash, static_cast<PUCHAR>(const_cast<void*>(data)),
                                         static_cast<ULONG>(size), 0));
  }
  std::optional<std::string> Final() {
    std::vector<unsigned char> digest(m_size);
    if (!BCRYPT_SUCCESS(BCryptFinishHash(m_hash, digest.data(), m_size, 0))) return std::nullopt;
    return Hex(digest.data(), m_size);
  }

 private:
  BCRYPT_ALG_HANDLE m_algorithm = nullptr;
  BCRYPT_HASH_HANDLE m_hash = nullptr;
  DWORD m_size = 0;
};
#else
// OpenSSL's libcrypto.
const EVP_MD* Algorithm(const std::string& name) {
  std::string lower = ToLower(name);
  if (lower == "sha256") return EVP_sha256();
  if (lower == "md5") return EVP_md5();
  if (lower == "sha1") return EVP_sha1();
  return nullptr;
}

class Digest {
 public:
  explicit Digest(const std::string& name) : m_context(EVP_MD_CTX_new()) {
    const EVP_MD* algorithm = Algorithm(name);
    m_ready = algorithm != nullptr && m_context != nullptr &&
              EVP_DigestInit_ex(m_context, algorithm, nullptr) == 1;
  }
  ~Digest() { EVP_MD_CTX_free(m_context); }
  bool Ready() const { return m_ready; }
  bool Update(const void* data, size_t size) { return EVP_DigestUpdate(m_context, data, size) == 1; }
  std::optional<std::string> Final() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (EVP_DigestFinal_ex(m_context, digest, &size) != 1) return std::nullopt;
    return Hex(digest, size);
  }

 private:
  EVP_MD_CTX* m_context;
  bool m_ready = false;
};
#endif

}  // namespace

bool IsKnownHash(const std::string& name) { return Algorithm(name) != nullptr; }

std::optional<std::string> HashRange(int fd, uint64_t offset, uint64_t size, const std::string& name) {
  return HashRead(
      [fd](uint64_t position, uint8_t* into, size_t want) {
        while (want > 0) {
          long long got = platform::ReadAt(fd, into, want, position);
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
  Digest digest(name);
  if (!digest.Ready()) return std::nullopt;
  std::vector<uint8_t> buffer(1u << 20);
  uint64_t done = 0;
  while (done < size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
    if (!read(offset + done, buffer.data(), want) || !digest.Update(buffer.data(), want)) return std::nullopt;
    done += want;
  }
  return digest.Final();
}

std::optional<std::string> HashBytes(const void* data, size_t size, const std::string& name) {
  Digest digest(name);
  if (!digest.Ready() || !digest.Update(data, size)) return std::nullopt;
  return digest.Final();
}

}  // namespace trcli
