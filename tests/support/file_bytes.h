// Whole files and byte buffers for the tests: reading a file into memory and the
// big-endian integers of file formats, written here without the product's helpers.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vitrelle_test {

using Bytes = std::vector<uint8_t>;

// The bytes of a file; a file that cannot be opened fails the test and gives no bytes.
inline Bytes ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file.good()) << "cannot open " << path;
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

inline uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void AppendBigEndian32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

}  // namespace vitrelle_test
