// SHA-256 of a stream of bytes, fed in pieces of any size. The inventory
// hashes every byte of every message, so the compression runs on the
// processor's SHA instructions where it has them; the portable code gives
// the same digests everywhere else.
#ifndef KORVANE_BYTES_SHA256_H_
#define KORVANE_BYTES_SHA256_H_

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string>

// How the 64-byte blocks are compressed.
enum class Sha256Engine { kPortable, kShaInstructions };

// The fastest engine this processor runs.
Sha256Engine BestSha256Engine();

// Whether the processor runs the engine.
bool Sha256EngineAvailable(Sha256Engine engine);

class Sha256 {
 public:
  typedef std::array<unsigned char, 32> Digest;

  // With an engine the processor does not run, the portable one.
  explicit Sha256(Sha256Engine engine = BestSha256Engine());

  void Update(const void* data, size_t size);
  // The digest of everything given since construction or the last Finish;
  // the object then starts over.
  Digest Finish();

  // The 64 lower-case hexadecimal digits of a digest.
  static std::string Hex(const Digest& digest);

  // Compresses count 64-byte blocks into state.
  typedef void (*BlockFunction)(uint32_t state[8], const unsigned char* blocks,
                                size_t count);

 private:
  void Reset();

  BlockFunction compress_;
  uint32_t state_[8];
  uint64_t length_;  // bytes given so far
  unsigned char block_[64];
  size_t blockUsed_;
};

// The round constants, for both engines.
extern const uint32_t kSha256RoundConstants[64];

// The engine on the SHA instructions (sha256_shani.cpp); only where
// KORVANE_HAVE_WIDE_TARGETS, and only called where ProcessorHasSha().
void Sha256BlocksShaInstructions(uint32_t state[8], const unsigned char* blocks,
                                 size_t count);

#endif  // KORVANE_BYTES_SHA256_H_
