#include "tervik/portablefloat.h"

#include <cmath>
#include <limits>
#include <string>

#include "tervik/exceptions.h"

namespace tervik::io {

namespace {

const char* const overflow_message = "The float value read causes an overflow on this machine";
const char* const underflow_message = "The float value read causes an underflow on this machine";

}  // namespace

PortableFloat::PortableFloat() {
  double p = 256.0;
  for (int i = 0; i < 7; ++i) {
    pow_[i] = p;
    inv_pow_[i] = 1.0 / p;  // exact: every entry is a power of two
    p = p * p;
  }
  // Normalise the largest double into [1, 256) by the same steps as encode.
  double m = std::numeric_limits<double>::max();
  int e = 0;
  for (int i = 6; i >= 0; --i)
    if (m >= pow_[i]) {
      m *= inv_pow_[i];
      e += 1 << i;
    }
  max_exponent_ = e;
  max_mantissa_ = m;
}

int PortableFloat::encode(double x, unsigned char* record) const {
  if (!std::isfinite(x))
    throw TervikError("PortableFloat cannot code a NaN or infinite value");
  // Zero of either sign is the one zero record 02 40: the format has no negative zero.
  const bool negative = x < 0.0;
  double m = std::fabs(x);
  int e = 0;
  if (m != 0.0) {
    // Binary decomposition of the exponent: at most one step per table entry each way.
    if (m >= 256.0) {
      for (int i = 6; i >= 0; --i)
        if (m >= pow_[i]) {
          m *= inv_pow_[i];
          e += 1 << i;
        }
    } else if (m < 1.0) {
      for (int i = 6; i >= 0; --i)
        if (m < inv_pow_[i]) {  // m * 256^(2^i) stays below 1 or reaches [1/256, 1)
          m *= pow_[i];
          e -= 1 << i;
        }
      // Now m is in [1/256, 1), or below it for doubles under 256^-127, where the table
      // runs out; steps of 256 finish the normalisation.
      while (m < 1.0) {
        m *= 256.0;
        e -= 1;
      }
    }
  }
  int n = 1;
  if (e >= -64 && e <= 63) {
    record[n++] = static_cast<unsigned char>(e + 64);
  } else {
    const int v = e + 0xBFFF;
    record[n++] = static_cast<unsigned char>(v >> 8);
    record[n++] = static_cast<unsigned char>(v & 0xFF);
  }
  // Digits while the remaining fraction is non-zero; 53 mantissa bits need at most eight.
  for (int digits = 0; m != 0.0 && digits < 8; ++digits) {
    const double digit = std::floor(m);
    record[n++] = static_cast<unsigned char>(digit);
    m = (m - digit) * 256.0;  // exact: removes the integer part, shifts by 8 bits
  }
  record[0] = static_cast<unsigned char>((negative ? 0x80 : 0) | n);
  for (int i = n; i < max_record_size; ++i) record[i] = 0;
  return n;
}

double PortableFloat::decode(const unsigned char* record, int available) const {
  const int length = record[0] & 0x7F;
  const bool negative = record[0] & 0x80;
  const int limit = available < max_record_size ? available : max_record_size;
  if (length < 2 || length > limit)
    throw TervikError("Float record length " + std::to_string(length) + " is outside 2.." +
                      std::to_string(limit));
  int e, pos;
  if (!(record[1] & 0x80)) {
    e = record[1] - 64;
    pos = 2;
  } else {
    if (length < 3)
      throw TervikError("Float record of length 2 has a two-byte exponent");
    e = (record[1] * 256 + record[2]) - 0xBFFF;
    pos = 3;
  }
  // The mantissa, least significant digit first (exact for up to 53 significant bits).
  double m = 0.0;
  for (int i = length - 1; i > pos; --i) m = (m + record[i]) / 256.0;
  if (length > pos) m += record[pos];
  if (e > max_exponent_ || (e == max_exponent_ && m > max_mantissa_))
    throw TervikError(overflow_message);
  if (e > 0) {
    for (int i = 0; i < 7; ++i)
      if (e & (1 << i)) m *= pow_[i];
  } else if (e < 0) {
    const int k = -e;
    if (k >= (1 << 7)) throw TervikError(underflow_message);  // beyond the table
    for (int i = 0; i < 7; ++i)
      if (k & (1 << i)) m *= inv_pow_[i];
    if (m == 0.0) throw TervikError(underflow_message);
  }
  return negative ? -m : m;
}

}  // namespace tervik::io
