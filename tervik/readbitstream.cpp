#include "tervik/readbitstream.h"

#include "tervik/exceptions.h"

namespace tervik::io {

void ReadBitStream::open(const std::string& path) {
  close();
  stream_.open(path, std::ios::binary);
  if (!stream_.is_open()) throw TervikFileNotFound(path);
  path_ = path;
}

unsigned long long ReadBitStream::read(unsigned char nbits) {
  if (!stream_.is_open()) throw TervikError("Call 'open' before trying to read from a file.");
  int n = nbits > 64 ? 64 : nbits;
  unsigned long long value = 0;
  while (n > 0) {
    if (unread_bits_ == 0) {
      const int c = stream_.get();
      if (c == std::char_traits<char>::eof()) {
        stream_.clear();
        throw TervikError("Bit stream of file '" + path_ + "' ends early, after bit " +
                          std::to_string(tellg()));
      }
      current_ = static_cast<unsigned char>(c);
      unread_bits_ = 8;
    }
    const int take = n < unread_bits_ ? n : unread_bits_;
    const int shift = unread_bits_ - take;
    const unsigned bits = (current_ >> shift) & ((1u << take) - 1);
    value = (value << take) | bits;
    unread_bits_ -= take;
    current_ &= static_cast<unsigned char>((1u << unread_bits_) - 1);
    n -= take;
  }
  return value;
}

unsigned long long ReadBitStream::read_ahead(unsigned char nbits) {
  const unsigned long long start = tellg();
  const unsigned long long value = read(nbits);
  seekg(start);
  return value;
}

void ReadBitStream::seekg(unsigned long long bit) {
  if (!stream_.is_open())
    throw TervikError("Call 'open' before trying to move the pointer from a file.");
  stream_.clear();
  stream_.seekg(static_cast<std::streamoff>(bit / 8));
  current_ = 0;
  unread_bits_ = 0;
  read(static_cast<unsigned char>(bit % 8));
}

unsigned long long ReadBitStream::tellg() {
  if (!stream_.is_open())
    throw TervikError("Call 'open' before trying to get the position of the pointer in a file.");
  const auto pos = stream_.tellg();
  return static_cast<unsigned long long>(pos) * 8 - unread_bits_;
}

void ReadBitStream::close() {
  if (stream_.is_open()) stream_.close();
  stream_.clear();
  current_ = 0;
  unread_bits_ = 0;
}

}  // namespace tervik::io
