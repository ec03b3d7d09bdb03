// SHA-256 (FIPS 180-4): the stream, the padding and the portable engine.
#include "bytes/sha256.h"

#include <string.h>

#include "bytes/simd.h"

const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {

inline uint32_t Rotate(uint32_t x, int n) { return x >> n | x << (32 - n); }

inline uint32_t LoadBigEndian(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 |
         uint32_t(p[3]);
}

void Sha256BlocksPortable(uint32_t state[8], const unsigned char* blocks,
                          size_t count) {
  for (; count > 0; --count, blocks += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(blocks + 4 * t);
    for (int t = 16; t < 64; ++t) {
      const uint32_t s0 =
          Rotate(w[t - 15], 7) ^ Rotate(w[t - 15], 18) ^ (w[t - 15] >> 3);
      const uint32_t s1 =
          Rotate(w[t - 2], 17) ^ Rotate(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      const uint32_t s1 = Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25);
      const uint32_t choose = (e & f) ^ (~e & g);
      const uint32_t t1 = h + s1 + choose + kSha256RoundConstants[t] + w[t];
      const uint32_t s0 = Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22);
      const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
      h = g, g = f, f = e, e = d + t1;
      d = c, c = b, b = a, a = t1 + s0 + majority;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
  }
}

}  // namespace

bool Sha256EngineAvailable(Sha256Engine engine) {
  if (engine == Sha256Engine::kPortable) return true;
#ifdef KORVANE_HAVE_WIDE_TARGETS
  static const bool hasSha = ProcessorHasSha();
  return hasSha;
#else
  return false;
#endif
}

Sha256Engine BestSha256Engine() {
  return Sha256EngineAvailable(Sha256Engine::kShaInstructions)
             ? Sha256Engine::kShaInstructions
             : Sha256Engine::kPortable;
}

Sha256::Sha256(Sha256Engine engine) : compress_(Sha256BlocksPortable) {
#ifdef KORVANE_HAVE_WIDE_TARGETS
  if (engine == Sha256Engine::kShaInstructions && Sha256EngineAvailable(engine))
    compress_ = Sha256BlocksShaInstructions;
#else
  (void)engine;
#endif
  Reset();
}

void Sha256::Reset() {
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372,
                                       0xa54ff53a, 0x510e527f, 0x9b05688c,
                                       0x1f83d9ab, 0x5be0cd19};
  memcpy(state_, kInitial, sizeof state_);
  length_ = 0;
  blockUsed_ = 0;
}

void Sha256::Update(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  length_ += size;
  if (blockUsed_ > 0) {
    const size_t take = size < 64 - blockUsed_ ? size : 64 - blockUsed_;
    memcpy(block_ + blockUsed_, p, take);
    blockUsed_ += take, p += take, size -= take;
    if (blockUsed_ < 64) return;
    compress_(state_, block_, 1);
    blockUsed_ = 0;
  }
  if (size >= 64) {
    compress_(state_, p, size / 64);
    p += size / 64 * 64;
    size %= 64;
  }
  if (size > 0) memcpy(block_, p, size);
  blockUsed_ = size;
}

Sha256::Digest Sha256::Finish() {
  // A one bit, zeros, and the length in bits in the last eight bytes.
  const uint64_t bits = length_ * 8;
  unsigned char tail[72] = {0x80};
  const size_t padding = (blockUsed_ < 56 ? 56 : 120) - blockUsed_;
  for (int i = 0; i < 8; ++i)
    tail[padding + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  Update(tail, padding + 8);
  Digest digest;
  for (int i = 0; i < 8; ++i) {
    for (int k = 0; k < 4; ++k)
      digest[4 * i + k] = static_cast<unsigned char>(state_[i] >> (24 - 8 * k));
  }
  Reset();
  return digest;
}

std::string Sha256::Hex(const Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (unsigned char byte : digest) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 15]);
  }
  return hex;
}
