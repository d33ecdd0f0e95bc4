#include "image/image_summary.h"

#include <algorithm>

#include "image/firmware_image.h"
#include "image/sha256.h"

namespace tvx::image {

std::vector<ImageRun> ImageRuns(std::span<const std::uint8_t> image) {
  std::vector<ImageRun> runs;
  RecordBuffer buffer{};
  std::uint16_t next_address = 0;  // where the current run's declared data end
  for (std::int32_t i = 0; i < StoredRecordCount(image); ++i) {
    FetchRecord(image, i, buffer);
    const RecordHeader header = HeaderOf(buffer);
    const int count = std::clamp(header.DataCount(), 0, 16);
    const bool joins = !runs.empty() && count > 0 && runs.back().data_bytes > 0 &&
                       runs.back().type == header.type && next_address == header.address;
    if (!joins) {
      runs.push_back({i, i, header.type, header.address, header.address, 0});
    }
    ImageRun& run = runs.back();
    run.last_record = i;
    run.data_bytes += count;
    if (count > 0) run.last_address = static_cast<std::uint16_t>(header.address + count - 1);
    next_address = static_cast<std::uint16_t>(header.address + count);
  }
  return runs;
}

ImageSummary SummarizeImage(std::span<const std::uint8_t> image) {
  ImageSummary summary;
  summary.stored_records = StoredRecordCount(image);
  summary.runs = ImageRuns(image);
  for (const ImageRun& run : summary.runs) summary.data_bytes += run.data_bytes;
  RecordBuffer buffer{};
  ImageWalk walk(image, buffer);
  PairChecksum sum;
  while (walk.NextRecord()) {
    for (Word word; walk.NextWord(word);) sum.Add(word.b0, word.b1);
  }
  summary.walk_records = walk.RecordIndex() + 1;
  summary.words = sum.words;
  summary.checksum = sum.Value();
  summary.sha256 = HexDigest(Sha256Of(image));
  return summary;
}

}  // namespace tvx::image
