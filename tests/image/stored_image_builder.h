// Builds small stored-form images for tests: records are given in fetched order and stored
// with each 4-byte group reversed, the way the image table holds them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tvx::testing {

class StoredImageBuilder {
 public:
  /// Appends one record; data byte i is `first_data + i` for all 16 positions.
  StoredImageBuilder& Record(std::uint8_t length, std::uint8_t type, std::uint16_t address,
                             std::uint8_t first_data = 0x40) {
    std::array<std::uint8_t, 20> fetched{};
    fetched[0] = length;
    fetched[1] = type;
    fetched[2] = static_cast<std::uint8_t>(address >> 8);
    fetched[3] = static_cast<std::uint8_t>(address);
    for (int i = 0; i < 16; ++i) {
      fetched[4 + i] = static_cast<std::uint8_t>(first_data + i);
    }
    for (int group = 0; group < 20; group += 4) {
      for (int i = 3; i >= 0; --i) {
        bytes_.push_back(fetched[group + i]);
      }
    }
    return *this;
  }

  /// Appends full type-15 records from `address` on, the last one ending at 0xFFFF.
  StoredImageBuilder& RunToTop(std::uint16_t address) {
    for (unsigned a = address; a <= 0xFFF0; a += 16) {
      Record(20, 15, static_cast<std::uint16_t>(a));
    }
    return *this;
  }

  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace tvx::testing
