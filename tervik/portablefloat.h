#pragma once
// PortableFloat: a machine-independent coding of doubles in records of at most 11 bytes.
//
// Byte 0: bit 7 the sign (set = negative), bits 0-6 the record length L in bytes. Then the
// base-256 exponent e: one byte e + 64 (top bit clear) for -64 <= e <= 63, else two bytes
// b1 b2 with b1's top bit set and e = b1 * 256 + b2 - 0xBFFF. Then the mantissa in base-256
// digits, most significant first: the first digit is the integer part (1..255), each further
// digit one more fraction place. Value = +-mantissa * 256^e. Zero is 02 40; 1.0 is 03 40 01.
#include <array>

namespace tervik::io {

class PortableFloat {
 public:
  // The longest record: length byte, two exponent bytes and eight digits.
  static constexpr int max_record_size = 11;

  // Fills the power tables and the machine's largest exponent and mantissa.
  PortableFloat();

  // The value of the record; `available` is how many bytes the record may span (at most
  // max_record_size are looked at). Throws TervikError if the record's length is outside
  // 2..min(11, available), on overflow ("The float value read causes an overflow on this
  // machine") and on underflow ("... an underflow on this machine").
  double decode(const unsigned char* record, int available = max_record_size) const;

  // Writes the record of x at `record` (room for max_record_size bytes) and returns its
  // length. Every finite double is coded exactly, but -0.0 codes as zero (02 40); NaN and
  // infinities throw TervikError.
  int encode(double x, unsigned char* record) const;

 private:
  std::array<double, 7> pow_;      // 256^(2^i), i = 0..6
  std::array<double, 7> inv_pow_;  // 256^-(2^i)
  int max_exponent_;               // largest base-256 exponent of a finite double
  double max_mantissa_;            // the mantissa of the largest finite double at that exponent
};

}  // namespace tervik::io
