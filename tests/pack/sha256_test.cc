#include "pack/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "pack/failure.h"
#include "tests/support/files.h"

namespace {

std::string digest(const std::string& data, size_t piece) {
  Sha256 sha;
  for (size_t i = 0; i < data.size(); i += piece) sha.update(data.data() + i, std::min(piece, data.size() - i));
  return sha.hex_digest();
}

TEST(Sha256, KnownDigestsWhateverThePieces) {
  EXPECT_EQ(digest("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  for (size_t piece : {1, 7, 55, 56, 64, 1000})
    EXPECT_EQ(digest(two_blocks, piece), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1") << piece;
  // Lengths around the padding boundary: 55 bytes fit one block, 56 need two.
  EXPECT_EQ(digest(std::string(55, 'a'), 10), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(digest(std::string(56, 'a'), 10), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  EXPECT_EQ(digest(std::string(1000000, 'a'), 4096),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, OfAFile) {
  TempDir temp;
  write_file(temp / "f", "abc");
  EXPECT_EQ(sha256_of_file(temp / "f"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_THROW(sha256_of_file(temp / "missing"), Failure);
}

}  // namespace
