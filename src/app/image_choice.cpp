#include "app/image_choice.h"

#include "app/printable_text.h"
#include "image/firmware_image.h"
#include "image/image_file.h"
#include "image/sha256.h"

namespace tvx::app {

std::span<const std::uint8_t> ChosenImage::Bytes() const {
  if (path.empty()) return image::FirmwareImage();
  return bytes;
}

std::string ChosenImage::Source() const {
  if (path.empty()) return "built_in";
  return path == "built_in" ? "./built_in" : path;  // a file of that name is not the built-in one
}

std::shared_ptr<const ChosenImage> LoadChosenImage(const std::string& path, std::string& error) {
  std::string why;
  auto bytes = image::ReadImageFile(path, why);
  if (!bytes) {
    error = "the image " + PrintableText(path) + ": " + why;
    return nullptr;
  }
  auto chosen = std::make_shared<ChosenImage>();
  chosen->path = path;
  chosen->bytes = std::move(*bytes);
  return chosen;
}

std::string MenuImageRow(const ChosenImage& image, std::size_t columns) {
  if (image.path.empty()) return {};
  const std::string tail = "  " + std::to_string(image::WalkRecordCount(image.bytes)) +
                           " records  SHA-256 " +
                           image::HexDigest(image::Sha256Of(image.bytes)).substr(0, 16);
  const std::string head = "Image ";
  std::string name = PrintableText(image.path);
  const std::size_t room =
      columns > head.size() + tail.size() + 3 ? columns - head.size() - tail.size() : 3;
  if (name.size() > room) name = "..." + name.substr(name.size() - (room - 3));
  return head + name + tail;
}

const ChosenImage& BuiltInImage() {
  static const ChosenImage built_in;
  return built_in;
}

}  // namespace tvx::app
