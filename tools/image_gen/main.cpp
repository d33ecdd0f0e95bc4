// tvx-image-gen: produces the firmware image table that is compiled into the program.
//
//   tvx-image-gen --output <table.cpp> [--input <stored image>] [--write-stored <image file>]
//
// Without --input it builds the synthetic release image; with --input it takes a stored-form
// image file (records of 20 bytes, each 4-byte group reversed). Either way the image is checked
// first, and a bad one fails with a message naming the record at fault and writes nothing.
// --write-stored also writes the image itself in stored form (for example to supply it back).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "image/image_check.h"
#include "release_image.h"
#include "table_source.h"

namespace {

constexpr const char* kTool = "tvx-image-gen";

struct Options {
  std::string input;
  std::string output;
  std::string write_stored;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      return std::nullopt;
    }
    if (arg == "--input") {
      options.input = argv[++i];
    } else if (arg == "--output") {
      options.output = argv[++i];
    } else if (arg == "--write-stored") {
      options.write_stored = argv[++i];
    } else {
      return std::nullopt;
    }
  }
  if (options.output.empty() && options.write_stored.empty()) {
    return std::nullopt;
  }
  return options;
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
  if (in.bad()) {
    return std::nullopt;
  }
  return bytes;
}

// Writes through a temporary file and renames it, so an interrupted run never leaves a
// half-written table that the build would take as up to date.
bool WriteFile(const std::string& path, const char* data, std::size_t size) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

int Fail(const std::string& message) {
  std::cerr << kTool << ": error: " << message << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::cerr << "usage: " << kTool
              << " --output <table.cpp> [--input <stored image>] [--write-stored <file>]\n";
    return 2;
  }

  std::vector<std::uint8_t> image;
  std::string origin = "the synthetic release image";
  if (!options->input.empty()) {
    std::optional<std::vector<std::uint8_t>> bytes = ReadFile(options->input);
    if (!bytes) {
      return Fail(options->input + ": cannot read the firmware image file");
    }
    image = std::move(*bytes);
    origin = options->input;
  } else {
    image = tvx::image_gen::BuildReleaseImage();
  }

  if (const auto fault = tvx::image::CheckStoredImage(image)) {
    return Fail(origin + ": bad firmware image: " + tvx::image::DescribeImageFault(*fault));
  }

  if (!options->input.empty()) {
    const std::int32_t differs =
        tvx::image_gen::FirstHeaderDifference(image, tvx::image_gen::BuildReleaseImage());
    if (differs >= 0) {
      std::cerr << kTool << ": note: " << origin
                << ": the record headers differ from the release 2.54 layout from record "
                << differs << " on\n";
    }
  }

  if (!options->output.empty()) {
    const std::string source = tvx::image_gen::TableSource(image, origin);
    if (!WriteFile(options->output, source.data(), source.size())) {
      return Fail(options->output + ": cannot write the image table");
    }
  }
  if (!options->write_stored.empty()) {
    if (!WriteFile(options->write_stored, reinterpret_cast<const char*>(image.data()),
                   image.size())) {
      return Fail(options->write_stored + ": cannot write the stored image");
    }
  }
  return 0;
}
