#include "rf/download_file.h"

namespace tvx::rf {

DownloadFile WalkDownloadFile(job::Clock& clock, std::span<const std::uint8_t> image,
                              image::RecordBuffer& buffer,
                              const std::function<void(std::int32_t)>& walked) {
  const double start = clock.Seconds();
  image::PairChecksum sum;
  image::ImageWalk walk(image, buffer);
  while (walk.NextRecord()) {
    walked(walk.RecordIndex());
    for (image::Word w; walk.NextWord(w);) sum.Add(w.b0, w.b1);
  }
  DownloadFile file;
  file.record_count = walk.RecordIndex() + 1;
  file.checksum = sum.Value();
  file.create_seconds = clock.Seconds() - start;
  return file;
}

}  // namespace tvx::rf
