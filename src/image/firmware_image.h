// The firmware image carried inside the program, and the ways the upload jobs read it.
//
// Stored form: records of 20 bytes, record i at byte offset 20 * i, no header and no
// terminator. Each record is five 4-byte groups and each group is stored with its bytes
// reversed, so a stored record reads: address low, address high, type, length, then data
// bytes 3,2,1,0, 7,6,5,4, 11,10,9,8, 15,14,13,12.
//
// Fetched form (what a RecordBuffer holds after FetchRecord): length, type, address high,
// address low, then 16 data bytes. Only the first dataCount = length - 4 data bytes belong to
// the record; spaceByte = type - 14 tells the radio which of its two address spaces is meant.
//
// Everything here is pure: no I/O, no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tvx::image {

inline constexpr std::size_t kRecordSize = 20;
inline constexpr std::size_t kRecordBufferSize = 81;

/// The 81-byte buffer one record is fetched into (bytes 0..19 are written by a fetch).
using RecordBuffer = std::array<std::uint8_t, kRecordBufferSize>;

/// Header fields of a fetched record, with the derived values every user computes alike.
struct RecordHeader {
  std::uint8_t length = 0;    ///< record length in bytes, the 4 header bytes included
  std::uint8_t type = 0;      ///< 14 or 15
  std::uint16_t address = 0;  ///< load address of the first data byte
  int DataCount() const { return int{length} - 4; }
  std::uint8_t SpaceByte() const { return static_cast<std::uint8_t>(type - 14); }
};

/// Reads the header of the record currently in `buffer`.
RecordHeader HeaderOf(const RecordBuffer& buffer);

/// The built-in image in stored form (82,880 bytes in this release).
std::span<const std::uint8_t> FirmwareImage();

/// Number of whole records stored in `image` (its size / 20).
std::int32_t StoredRecordCount(std::span<const std::uint8_t> image);

/// Copies record `index` of `image` into buffer bytes 0..19 in fetched order; bytes 20..80 are
/// left untouched. `index` must be in 0 .. StoredRecordCount(image) - 1 (asserted: the walks
/// never produce another index and operator-given indices are held in range); an index outside
/// leaves the buffer unchanged rather than reading past the image.
void FetchRecord(std::span<const std::uint8_t> image, std::int32_t index, RecordBuffer& buffer);

/// FetchRecord on the built-in image.
void FetchRecord(std::int32_t index, RecordBuffer& buffer);

/// One two-byte word of a walk: b0 goes to `address`, b1 to `address` + 1.
struct Word {
  std::uint8_t b0 = 0;
  std::uint8_t b1 = 0;
  std::uint16_t address = 0;
};

/// How a walk treats records whose dataCount is below 1.
enum class WalkMode {
  kSkipEmpty,  ///< upload and download-file walk: skipped without output, starts at index 0
  kVisitAll,   ///< read-back walk: visited (yields no words), still decides the end
};

/// Iterates the image record by record and word by word. The walk has no record count: it
/// ends after the first visited record whose last word leaves the address at 0 (that is, ends
/// at 0xFFFF). As a guard for malformed images it also ends at the last stored record.
///
///   ImageWalk walk(FirmwareImage(), buffer);
///   while (walk.NextRecord()) {
///     for (Word w; walk.NextWord(w);) { ... }
///   }
///   // walk.Ended() is true here unless the caller left early
///
/// The caller may stop at any point; words it leaves untaken still advance the address. A
/// length byte above 20 counts as 20, so a walk never reads past the record's data field.
/// NextRecord fetches into the caller's RecordBuffer.
class ImageWalk {
 public:
  ImageWalk(std::span<const std::uint8_t> image, RecordBuffer& buffer,
            WalkMode mode = WalkMode::kSkipEmpty);

  /// Moves to the next record to visit and fetches it. False when the walk has ended.
  bool NextRecord();

  /// Yields the next word of the current record, advancing the address by 2 (mod 65536).
  /// False after the record's last word.
  bool NextWord(Word& word);

  /// True once the current record's words are all taken and the address wrapped to 0, or the
  /// image has no further record.
  bool Ended() const;

  std::int32_t RecordIndex() const { return index_; }
  /// The address of the next word of the current record (after the last word: the address
  /// past it, which is 0 at the end of the walk).
  std::uint16_t Address() const { return address_; }
  int DataCount() const { return data_count_; }
  std::uint8_t SpaceByte() const { return space_byte_; }
  /// Index into the RecordBuffer of the next word's first byte (4 at the start of a record).
  int DataPosition() const { return position_; }

 private:
  void Advance();
  void FinishRecord();

  std::span<const std::uint8_t> image_;
  RecordBuffer& buffer_;
  WalkMode mode_;
  std::int32_t index_ = -1;
  std::uint16_t address_ = 0;
  int data_count_ = 0;
  std::uint8_t space_byte_ = 0;
  int position_ = 4;
  int next_k_ = 1;
  bool in_record_ = false;
  bool ended_ = false;
};

/// The two-byte XOR checksum over a sequence of words: the XOR of all first bytes and of all
/// second bytes, both complemented when the number of words is odd.
struct PairChecksum {
  std::uint8_t even_xor = 0;  ///< XOR of the first bytes (b0)
  std::uint8_t odd_xor = 0;   ///< XOR of the second bytes (b1)
  std::uint32_t words = 0;

  void Add(std::uint8_t b0, std::uint8_t b1) {
    even_xor ^= b0;
    odd_xor ^= b1;
    ++words;
  }
  /// The checksum as the radio computes it: {first, second}.
  std::array<std::uint8_t, 2> Value() const {
    const std::uint8_t flip = (words % 2 != 0) ? 0xFF : 0x00;
    return {static_cast<std::uint8_t>(even_xor ^ flip), static_cast<std::uint8_t>(odd_xor ^ flip)};
  }
};

/// Record count of an image as the RF header states it: one more than the index of the record
/// after which the walk ends (4144 for the release image).
std::int32_t WalkRecordCount(std::span<const std::uint8_t> image);

}  // namespace tvx::image
