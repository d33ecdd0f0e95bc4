// The frames of the RF download file, built byte for byte into the one frame buffer. Frames go
// on the line back to back with nothing between them: the type byte at position 0 tells a header
// frame (0xE2, 8 bytes) from a data frame (0xE3, m + 8 bytes). Every frame carries the marker
// 0x36 at position 2 and ends with a CRC-16 (both register bytes preset to 0xFF, no final XOR)
// over positions 1 up to the byte before the CRC, sent high byte first.
//
// Pure: no I/O, no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "image/firmware_image.h"

namespace tvx::rf {

inline constexpr std::size_t kFrameBufferSize = 33;
inline constexpr std::uint8_t kHeaderFrameType = 0xE2;
inline constexpr std::uint8_t kDataFrameType = 0xE3;
inline constexpr std::uint8_t kFrameMarker = 0x36;
inline constexpr std::size_t kHeaderFrameSize = 8;

/// Holds one frame at a time: the header frame, then each data frame in turn.
using RfFrameBuffer = std::array<std::uint8_t, kFrameBufferSize>;

/// The state of the bit-mix that scrambles the data pairs of one data frame.
using MixWord = std::uint16_t;

/// The seed of a data frame's MixWord: the record's address low byte as high byte, the frame's
/// random byte s as low byte. A seed of 0 stays 0 and leaves the data as they are.
constexpr MixWord SeedMixWord(std::uint8_t address_low, std::uint8_t s) {
  return static_cast<MixWord>(address_low << 8 | s);
}

/// The random byte of a data frame: 255 * u rounded to the nearest whole number (u in [0, 1)).
std::uint8_t RandomByte(double u);

/// m of a record: the bytes after its length byte, made odd so the data form whole pairs
/// (19 for a 20-byte record). The data frame is m + 8 bytes long.
int FrameM(std::uint8_t length);

/// Fills positions 0..7 with the header frame: 0xE2, even checksum, 0x36, record count (low 16
/// bits, high byte first), odd checksum, CRC high, CRC low. Returns 8.
std::size_t RfHeaderFrame(RfFrameBuffer& frame, std::int32_t record_count,
                          std::array<std::uint8_t, 2> checksum);

/// Fills the data frame of the record held in `record` (fetched as record `index`) with random
/// byte `s`: 0xE3, m, 0x36, index (low 16 bits, high byte first), s, type, address high and
/// low, record bytes 4..m scrambled pair by pair with the MixWord, CRC high, CRC low. Returns
/// the frame's length m + 8. Records longer than 26 bytes cannot be framed; their m is cut so
/// the frame stays within the buffer.
std::size_t RfDataFrame(RfFrameBuffer& frame, const image::RecordBuffer& record, std::int32_t index,
                        std::uint8_t s);

}  // namespace tvx::rf
