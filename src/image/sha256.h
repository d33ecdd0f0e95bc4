// SHA-256 (FIPS 180-4) of a byte sequence: what identifies a stored image beyond its record
// count and pair checksum, the same digest `sha256sum` prints for the image's file. Pure: no
// I/O, no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tvx::image {

using Sha256Digest = std::array<std::uint8_t, 32>;

/// Incremental SHA-256: Add any number of pieces, then Finish once.
class Sha256 {
 public:
  void Add(std::span<const std::uint8_t> bytes);
  /// The digest of everything added; the object is spent afterwards.
  Sha256Digest Finish();

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pending_size_ = 0;
  std::uint64_t total_bytes_ = 0;
};

/// The digest of `bytes` in one call.
Sha256Digest Sha256Of(std::span<const std::uint8_t> bytes);

/// The digest as 64 lower-case hexadecimal digits, as sha256sum prints it.
std::string HexDigest(const Sha256Digest& digest);

}  // namespace tvx::image
