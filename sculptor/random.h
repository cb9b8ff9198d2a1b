#pragma once
// The one random sequence of the sampler: the sequence of the C library's rand() as glibc
// produces it, never seeded (seed 1), so that two runs on the same input draw the same numbers.
// Every stage draws from it in the order it runs; a random 3-vector is always drawn z first,
// then y, then x.
//
// The draws come from RandomSequence, a copy of glibc's default generator (the additive
// feedback generator x[i] = x[i - 3] + x[i - 31] over 32-bit words, output x[i] >> 1) with
// glibc's seeding, draw for draw, but without the lock that rand() takes on every call. The
// process keeps one such sequence for the sampler; only one thread may draw from it at a time.
#include <cstdint>

namespace tervik {

// glibc's srand()/rand() sequence as a value: same seeding (seed 0 taken as 1, the Lehmer
// warm-up of the 31 state words, 310 draws discarded) and the same draws (0 ... 2147483647).
class RandomSequence {
 public:
  // The sequence of srand(seed).
  constexpr explicit RandomSequence(unsigned seed = 1) { reseed(seed); }

  // Starts the sequence of srand(seed) again.
  constexpr void reseed(unsigned seed) {
    if (seed == 0) seed = 1;  // a zero state would stay zero
    // Word i = 16807 * word (i - 1) mod 2^31 - 1, by Schrage's method on the seed as a signed
    // 32-bit value (seeds of 2^31 and above are negative there, as in the C library).
    std::int32_t word = static_cast<std::int32_t>(seed);
    state_[0] = static_cast<std::uint32_t>(word);
    for (int i = 1; i < kDegree; ++i) {
      const std::int64_t hi = word / 127773;
      const std::int64_t lo = word % 127773;
      std::int64_t next = 16807 * lo - 2836 * hi;
      if (next < 0) next += 2147483647;
      word = static_cast<std::int32_t>(next);
      state_[i] = static_cast<std::uint32_t>(word);
    }
    front_ = kSeparation;
    rear_ = 0;
    // The first 10 * 31 draws are thrown away.
    for (int i = 0; i < 10 * kDegree; ++i) next();
  }

  // The next draw, as rand() would return it.
  constexpr int next() {
    const std::uint32_t sum = state_[front_] + state_[rear_];
    state_[front_] = sum;
    front_ = front_ == kDegree - 1 ? 0 : front_ + 1;
    rear_ = rear_ == kDegree - 1 ? 0 : rear_ + 1;
    return static_cast<int>(sum >> 1);
  }

 private:
  static constexpr int kDegree = 31;     // words of state
  static constexpr int kSeparation = 3;  // distance between the two words added
  std::uint32_t state_[kDegree] = {};
  int front_ = kSeparation;  // the word that receives the sum
  int rear_ = 0;
};

// The sampler's sequence (process-wide, starts as srand(1)). Not synchronised: the sampling
// stages draw from the thread that runs them, one stage at a time.
extern constinit RandomSequence sampler_sequence;

// The next draw of the sampler's sequence (0 ... 2147483647), as rand() would give it.
inline int sampler_rand() { return sampler_sequence.next(); }

// Restarts the sampler's sequence as srand(seed) would (tests use it to fix the draws).
inline void seed_sampler_rand(unsigned seed) { sampler_sequence.reseed(seed); }

// 2 / 2147483647: maps a draw (0 ... 2147483647) onto [0, 2].
extern const double symsc;

// A uniform double in [-1, 1] from one draw of the sampler's sequence: draw * symsc - 1.0 (a
// draw of 0 gives -1.0, a draw of 2147483647 gives 1.0).
inline double sym_rand() { return sampler_rand() * symsc - 1.0; }

}  // namespace tervik
