#pragma once
// ReadBitStream: reads a file as a stream of bits, most significant bit of each byte first.
// Positions are in bits from the start of the file.
#include <fstream>
#include <string>

namespace tervik::io {

class ReadBitStream {
 public:
  ReadBitStream() = default;
  // Calls open(path).
  explicit ReadBitStream(const std::string& path) { open(path); }

  // Opens the file; throws TervikFileNotFound if it cannot be opened.
  void open(const std::string& path);

  // The next nbits bits (0 gives 0, more than 64 count as 64) as an unsigned integer, the first
  // bit read the most significant. Throws TervikError if the file ends first.
  unsigned long long read(unsigned char nbits);

  // As read, then moves back to where it started.
  unsigned long long read_ahead(unsigned char nbits);

  // Moves to bit position `bit`.
  void seekg(unsigned long long bit);

  // The current position in bits.
  unsigned long long tellg();

  void close();
  bool is_open() const { return stream_.is_open(); }

 private:
  std::string path_;
  std::ifstream stream_;
  unsigned char current_ = 0;  // the current byte, its consumed bits masked off
  int unread_bits_ = 0;        // unread bits left in current_
};

}  // namespace tervik::io
