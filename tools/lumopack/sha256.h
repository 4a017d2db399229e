// SHA-256 (FIPS 180-4), for naming the stub a build used: a vendor compares
// the digest lumopack prints with the one published for the stub.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lumo {

std::array<uint8_t, 32> sha256(std::span<const uint8_t> bytes);

// The digest in lower-case hexadecimal, as sha256sum prints it.
std::string sha256_hex(std::span<const uint8_t> bytes);

}  // namespace lumo
