// The firmware image a run loads: the one built in, or a stored-form file (--image FILE, the
// configuration file's "image" key) read and checked completely while the command line is read,
// before any port is opened.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tvx::app {

struct ChosenImage {
  std::string path;                 ///< the file as given; empty: the built-in image
  std::vector<std::uint8_t> bytes;  ///< the file's bytes, checked; empty for the built-in image

  /// The stored form the jobs send.
  std::span<const std::uint8_t> Bytes() const;
  /// The image's source as the upload log records it: "built_in" or the file's path.
  std::string Source() const;
};

/// Reads and checks the image file at `path` (see image::ReadImageFile). Null on failure, with
/// `error` set to a line naming the file, the record and what is wrong.
std::shared_ptr<const ChosenImage> LoadChosenImage(const std::string& path, std::string& error);

/// The built-in image, as a choice.
const ChosenImage& BuiltInImage();

/// The menu's row for an image from a file, at most `columns` wide: "Image FILE  4145 records
/// SHA-256 " and the first 16 hex digits of the digest, the file's name shortened from the
/// left ("...") to fit. Empty for the built-in image (the title says it all).
std::string MenuImageRow(const ChosenImage& image, std::size_t columns = 80);

}  // namespace tvx::app
