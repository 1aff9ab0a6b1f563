// SHA-256 through OpenSSL.
#include "tests/Sha256.h"

#include <openssl/evp.h>

namespace quom::test {

std::string Sha256Hex(std::span<const uint8_t> bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr) != 1) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < len; ++i) {
    hex += kHex[md[i] >> 4];
    hex += kHex[md[i] & 15];
  }
  return hex;
}

}  // namespace quom::test
