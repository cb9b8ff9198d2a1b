#pragma once
// The one random sequence of the sampler: the C library's rand(), never seeded, so that two runs
// on the same input draw the same numbers. Every stage draws from it in the order it runs; a
// random 3-vector is always drawn z first, then y, then x.

namespace tervik {

// 2 / 2147483647: maps a rand() draw (0 ... 2147483647) onto [0, 2].
extern const double symsc;

// A uniform double in [-1, 1] from one rand() draw: rand() * symsc - 1.0 (a draw of 0 gives -1.0,
// a draw of 2147483647 gives 1.0).
double sym_rand();

}  // namespace tervik
