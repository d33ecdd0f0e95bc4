// Image files as an upload takes them: every kind of bad file refused with what is wrong, a
// sound one read whole; and what a sound image holds, told in runs.
#include "image/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/image_summary.h"
#include "stored_image_builder.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using tvx::testing::StoredImageBuilder;

std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::string path = (fs::path(::testing::TempDir()) / name).string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<std::uint8_t> Sound() {
  StoredImageBuilder image;
  image.Record(12, 14, 0x1000).RunToTop(0xFF00);
  return image.Bytes();
}

TEST(ReadImageFile, RefusesEveryKindOfBadFile) {
  const std::vector<std::uint8_t> sound = Sound();
  const std::vector<std::uint8_t> truncated(sound.begin(), sound.end() - 7);
  StoredImageBuilder wrong_length;
  wrong_length.Record(12, 14, 0x1000).Record(21, 15, 0x2000).RunToTop(0xFF00);
  StoredImageBuilder wrong_type;
  wrong_type.Record(12, 13, 0x1000).RunToTop(0xFF00);
  StoredImageBuilder run_on;
  run_on.Record(12, 14, 0x1000).Record(20, 15, 0x3000);
  StoredImageBuilder ends_early;
  ends_early.RunToTop(0xFFF0).Record(20, 15, 0x3000);

  const std::string fifo = (fs::path(::testing::TempDir()) / "tvx_image_fifo").string();
#ifndef _WIN32
  fs::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
#endif
  struct Case {
    const char* name;
    std::string path;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"truncated", Write("tvx_truncated.bin", truncated),
       "record 16: incomplete, only 13 of 20 bytes (image size 333 is not a multiple of 20)"},
      {"oversized", Write("tvx_oversized.bin", std::vector<std::uint8_t>(65536 * 20)),
       "larger than 1310700 bytes: an image holds at most 65535 records of 20 bytes"},
      {"wrong length", Write("tvx_length.bin", wrong_length.Bytes()),
       "record 1: length 21 is outside 5..20"},
      {"wrong type", Write("tvx_type.bin", wrong_type.Bytes()),
       "record 0: type 13 is neither 14 nor 15"},
      {"run-on", Write("tvx_run_on.bin", run_on.Bytes()),
       "record 1 (the last): its last word ends at 0x300F, not 0xFFFF, so the walk does not end "
       "with it"},
      {"ends early", Write("tvx_early.bin", ends_early.Bytes()),
       "record 0: its last word ends at 0xFFFF, so the walk ends there and the 1 records after it "
       "would never be loaded"},
      {"empty", Write("tvx_empty.bin", {}), "the image is empty: it holds no records"},
      {"a directory", ::testing::TempDir(), "not a regular file"},
      {"missing", (fs::path(::testing::TempDir()) / "tvx_no_such_image").string(), "no such file"},
#ifndef _WIN32
      {"a FIFO (would block the open)", fifo, "not a regular file"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(tvx::image::ReadImageFile(c.path, error).has_value());
    EXPECT_EQ(error, c.error);
  }
  fs::remove(fifo);
}

TEST(ReadImageFile, ReadsASoundFileWholeAndWritesItBackTheSame) {
  const std::string path = Write("tvx_sound.bin", Sound());
  std::string error;
  const auto bytes = tvx::image::ReadImageFile(path, error);
  ASSERT_TRUE(bytes.has_value()) << error;
  EXPECT_EQ(*bytes, Sound());

  const std::string copy = (fs::path(::testing::TempDir()) / "tvx_copy.bin").string();
  EXPECT_EQ(tvx::image::WriteImageFile(copy, *bytes), "");
  EXPECT_EQ(tvx::image::ReadImageFile(copy, error), bytes);
  EXPECT_EQ(tvx::image::WriteImageFile(::testing::TempDir(), *bytes), "not a regular file");
}

// Runs break where the type changes or the next record does not start where the data end; a
// record of odd length ends its run at its last declared byte.
TEST(ImageRuns, BreakAtATypeChangeAndAGap) {
  StoredImageBuilder image;
  image.Record(20, 15, 0x8000)
      .Record(13, 15, 0x8010)  // 9 bytes: 0x8010..0x8018
      .Record(20, 14, 0x8019)  // same place, other type
      .Record(20, 14, 0x8029)
      .Record(20, 14, 0x8040);  // a gap
  const auto runs = tvx::image::ImageRuns(image.Bytes());
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].Records(), 2);
  EXPECT_EQ(runs[0].last_address, 0x8018);
  EXPECT_EQ(runs[0].data_bytes, 25);
  EXPECT_EQ(runs[1].first_record, 2);
  EXPECT_EQ(runs[1].last_address, 0x8038);
  EXPECT_EQ(runs[2].first_address, 0x8040);
}

}  // namespace
