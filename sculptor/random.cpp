#include "sculptor/random.h"

#include <cstdlib>

// The scaling below assumes the generator's full range 0 ... 2^31 - 1.
static_assert(RAND_MAX == 2147483647, "the sampler needs rand() to span 0 ... 2147483647");

namespace tervik {

const double symsc = 2.0 / 2147483647.0;

double sym_rand() { return std::rand() * symsc - 1.0; }

}  // namespace tervik
