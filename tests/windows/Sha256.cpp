// SHA-256 through the system's cryptography (bcrypt.dll), so that the tests need no OpenSSL.
#include "tests/Sha256.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

namespace quom::test {

std::string Sha256Hex(std::span<const uint8_t> bytes) {
  unsigned char md[32];
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return "";
  const NTSTATUS status = BCryptHash(sha256, nullptr, 0, const_cast<PUCHAR>(bytes.data()),
                                     static_cast<ULONG>(bytes.size()), md, sizeof md);
  BCryptCloseAlgorithmProvider(sha256, 0);
  if (!BCRYPT_SUCCESS(status)) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : md) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

}  // namespace quom::test
