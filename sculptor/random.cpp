#include "sculptor/random.h"

#include <cstdlib>

// The scaling of the draws assumes the generator's full range 0 ... 2^31 - 1.
static_assert(RAND_MAX == 2147483647, "the sampler needs draws spanning 0 ... 2147483647");

namespace tervik {

const double symsc = 2.0 / 2147483647.0;

constinit RandomSequence sampler_sequence(1);

}  // namespace tervik
