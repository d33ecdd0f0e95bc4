#include "rf/frames.h"

#include <cmath>

#include "image/checks.h"

namespace tvx::rf {

namespace {

// The largest m whose frame (m + 8 bytes) fits the buffer.
constexpr int kMaxM = static_cast<int>(kFrameBufferSize) - 8;

// The CRC over positions 1 .. end - 1, written at end (high) and end + 1 (low).
void AppendCrc(RfFrameBuffer& frame, std::size_t end) {
  image::Crc16Register reg;
  for (std::size_t i = 1; i < end; ++i) image::Crc16Update(reg, frame[i]);
  frame[end] = reg.high;
  frame[end + 1] = reg.low;
}

}  // namespace

std::uint8_t RandomByte(double u) {
  const double scaled = std::round(255.0 * u);
  if (!(scaled > 0.0)) return 0;
  return scaled >= 255.0 ? std::uint8_t{255} : static_cast<std::uint8_t>(scaled);
}

int FrameM(std::uint8_t length) {
  int m = int{length} - 1;
  if (m % 2 == 0) ++m;
  return m;
}

std::size_t RfHeaderFrame(RfFrameBuffer& frame, std::int32_t record_count,
                          std::array<std::uint8_t, 2> checksum) {
  const auto count = static_cast<std::uint32_t>(record_count);
  frame[0] = kHeaderFrameType;
  frame[1] = checksum[0];
  frame[2] = kFrameMarker;
  frame[3] = static_cast<std::uint8_t>(count >> 8);
  frame[4] = static_cast<std::uint8_t>(count);
  frame[5] = checksum[1];
  AppendCrc(frame, 6);
  return kHeaderFrameSize;
}

std::size_t RfDataFrame(RfFrameBuffer& frame, const image::RecordBuffer& record, std::int32_t index,
                        std::uint8_t s) {
  int m = FrameM(record[0]);
  if (m > kMaxM) m = kMaxM;
  const auto r = static_cast<std::uint32_t>(index);
  frame[0] = kDataFrameType;
  frame[1] = static_cast<std::uint8_t>(m);
  frame[2] = kFrameMarker;
  frame[3] = static_cast<std::uint8_t>(r >> 8);
  frame[4] = static_cast<std::uint8_t>(r);
  frame[5] = s;
  frame[6] = record[1];
  frame[7] = record[2];
  frame[8] = record[3];
  MixWord mix = SeedMixWord(record[3], s);
  for (std::size_t i = 4; i <= static_cast<std::size_t>(m); i += 2) {
    image::BitMix(mix);
    frame[i + 5] = static_cast<std::uint8_t>((mix >> 8) ^ record[i]);
    frame[i + 6] = static_cast<std::uint8_t>((mix & 0xFF) ^ record[i + 1]);
  }
  const auto end = static_cast<std::size_t>(m) + 6;
  AppendCrc(frame, end);
  return end + 2;
}

}  // namespace tvx::rf
