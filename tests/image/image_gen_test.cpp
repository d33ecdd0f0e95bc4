// Runs the image generator the way the build does, on supplied image files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "stored_image_builder.h"

namespace {

using tvx::testing::StoredImageBuilder;

// A file name of its own for every test run, as other builds may run these tests at once.
std::string TempPath(const std::string& name) {
  static const std::string run = std::to_string(std::random_device{}());
  return ::testing::TempDir() + "tvx_image_" + run + "_" + name;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the generator with `arguments`; returns its exit status and leaves stderr in `errors`.
int RunGenerator(const std::string& arguments, std::string& errors) {
  const std::string error_file = TempPath("image_gen_errors.txt");
  // The program's path is quoted only when it needs it: the Windows command interpreter drops
  // the first and the last quote of a command that begins with one.
  std::string program = TVX_IMAGE_GEN;
  if (program.find(' ') != std::string::npos) program = "\"" + program + "\"";
  const std::string command = program + " " + arguments + " 2> \"" + error_file + "\"";
  const int status = std::system(command.c_str());
  errors = ReadText(error_file);
  std::remove(error_file.c_str());
  return status;
}

TEST(ImageGen, RefusesABadSuppliedImageAndNamesTheRecord) {
  StoredImageBuilder image;
  image.Record(20, 15, 0x8000).Record(20, 13, 0x8010).RunToTop(0xFF00);
  const std::string input = TempPath("bad_image.bin");
  const std::string output = TempPath("bad_image_table.cpp");
  WriteBytes(input, image.Bytes());
  std::remove(output.c_str());

  std::string errors;
  EXPECT_NE(RunGenerator("--input \"" + input + "\" --output \"" + output + "\"", errors), 0);
  EXPECT_NE(errors.find("record 1: type 13 is neither 14 nor 15"), std::string::npos) << errors;
  EXPECT_FALSE(std::ifstream(output).good()) << "no table may be written for a bad image";
  std::remove(input.c_str());
}

TEST(ImageGen, SyntheticImageMatchesTheLinkedOne) {
#ifndef TVX_SYNTHETIC_IMAGE
  GTEST_SKIP() << "a supplied image is built in";
#else
  const auto linked = tvx::image::FirmwareImage();
  const std::string stored = TempPath("synthetic_image.bin");
  std::string errors;
  ASSERT_EQ(RunGenerator("--write-stored \"" + stored + "\"", errors), 0) << errors;
  EXPECT_EQ(ReadText(stored), std::string(linked.begin(), linked.end()));
  std::remove(stored.c_str());
#endif
}

}  // namespace
