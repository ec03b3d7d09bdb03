// SHA-256 against the NIST example digests, on every engine this processor
// runs, whole and fed in pieces.
#include "bytes/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Vector {
  std::string message;
  const char* digest;
};

std::vector<Vector> NistVectors() {
  return {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
       "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
}

std::vector<Sha256Engine> Engines() {
  std::vector<Sha256Engine> engines = {Sha256Engine::kPortable};
  if (Sha256EngineAvailable(Sha256Engine::kShaInstructions))
    engines.push_back(Sha256Engine::kShaInstructions);
  return engines;
}

TEST(Sha256Test, NistVectorsOnEveryEngine) {
  for (Sha256Engine engine : Engines()) {
    Sha256 sha(engine);
    for (const Vector& v : NistVectors()) {
      sha.Update(v.message.data(), v.message.size());
      EXPECT_EQ(v.digest, Sha256::Hex(sha.Finish()))
          << v.message.size() << " bytes, engine " << int(engine);
    }
  }
}

// Pieces that end inside, at and across block boundaries give the digest
// of the whole; the padding's two cases (length in this block or the next)
// lie around 55 and 56 bytes.
TEST(Sha256Test, PiecesOfAnySizeGiveTheSameDigest) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text.push_back(static_cast<char>(i * 7 + 3));
  for (size_t length : {size_t{55}, size_t{56}, size_t{64}, size_t{1000}}) {
    Sha256 whole(Sha256Engine::kPortable);
    whole.Update(text.data(), length);
    const Sha256::Digest expected = whole.Finish();
    for (Sha256Engine engine : Engines()) {
      for (size_t piece : {1, 3, 63, 64, 65, 200}) {
        Sha256 sha(engine);
        for (size_t at = 0; at < length; at += piece)
          sha.Update(text.data() + at, std::min(piece, length - at));
        EXPECT_EQ(expected, sha.Finish())
            << length << " bytes in pieces of " << piece;
      }
    }
  }
}

}  // namespace
