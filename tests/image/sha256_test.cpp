// SHA-256 against published digests and sha256sum's, at the lengths where the padding changes
// shape (55, 56 and 64 bytes in a block), and fed in pieces split at every point.
#include "image/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tvx::image::HexDigest;
using tvx::image::Sha256;
using tvx::image::Sha256Of;

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Sha256, KnownDigests) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(HexDigest(Sha256Of(Bytes(c.text))), c.digest);
  }
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  std::vector<std::uint8_t> bytes(150);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  const auto whole = Sha256Of(bytes);
  for (std::size_t split = 0; split <= bytes.size(); ++split) {
    Sha256 sha;
    sha.Add(std::span(bytes).first(split));
    sha.Add(std::span(bytes).subspan(split));
    EXPECT_EQ(sha.Finish(), whole) << split;
  }
}

}  // namespace
