#include "image/image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace tvx::image {
namespace {

namespace fs = std::filesystem;

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

std::string SystemError(int number) {
  return std::strerror(number);
}

std::string TooLarge() {
  return "larger than " + std::to_string(kMaxImageBytes) + " bytes: an image holds at most " +
         std::to_string(kMaxRecordCount) + " records of 20 bytes";
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadImageFile(const std::string& path,
                                                       std::string& error) {
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (status.type() == fs::file_type::not_found) {
    error = "no such file";
    return std::nullopt;
  }
  if (code) {
    error = "cannot be read: " + code.message();
    return std::nullopt;
  }
  // A FIFO or a device could block the open or the read, or never end.
  if (!fs::is_regular_file(status)) {
    error = "not a regular file";
    return std::nullopt;
  }
  const std::uintmax_t size = fs::file_size(path, code);
  if (!code && size > kMaxImageBytes) {
    error = TooLarge();
    return std::nullopt;
  }
  errno = 0;
  const File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "cannot be opened: " + SystemError(errno);
    return std::nullopt;
  }
  // One read of up to one byte more than the limit: a file that grew is still refused.
  std::vector<std::uint8_t> bytes(kMaxImageBytes + 1);
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get()) != 0) {
    error = "cannot be read: " + SystemError(errno);
    return std::nullopt;
  }
  bytes.resize(got);
  if (got > kMaxImageBytes) {
    error = TooLarge();
    return std::nullopt;
  }
  if (const auto fault = CheckStoredImage(bytes)) {
    error = DescribeImageFault(*fault);
    return std::nullopt;
  }
  return bytes;
}

std::string WriteImageFile(const std::string& path, std::span<const std::uint8_t> image) {
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (fs::exists(status) && !fs::is_regular_file(status)) return "not a regular file";
  errno = 0;
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return "cannot be written: " + SystemError(errno);
  const std::size_t put = std::fwrite(image.data(), 1, image.size(), file.get());
  const int write_errno = errno;
  if (put != image.size() || std::fflush(file.get()) != 0) {
    return "cannot be written: " + SystemError(errno != 0 ? errno : write_errno);
  }
  if (std::fclose(file.release()) != 0) return "cannot be written: " + SystemError(errno);
  return {};
}

}  // namespace tvx::image
