// SHA-256 of a byte string, as lowercase hex, for golden renders. OpenSSL's (tests/posix/), or on
// Windows the system's own (tests/windows/).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quom::test {

std::string Sha256Hex(std::span<const uint8_t> bytes);

}  // namespace quom::test
