// Reads a fuzz input as a stream of fields. Past the end every read gives
// zeros, so any input, however short, drives a complete run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A broken promise of the code under test: report and stop, so the fuzzer
// keeps the input.
#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool Empty() const { return m_at >= m_size; }
  size_t Left() const { return m_size - m_at; }

  uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) << 16 | U16(); }
  uint64_t U64() { return static_cast<uint64_t>(U32()) << 32 | U32(); }

  // Up to n bytes; fewer when the input ends.
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, Left());
    std::vector<uint8_t> out(m_data + m_at, m_data + m_at + n);
    m_at += n;
    return out;
  }
  // A field of its own length: a 16-bit length, then the bytes.
  std::vector<uint8_t> Field() { return Bytes(U16()); }
  std::string Text() {
    const std::vector<uint8_t> b = Field();
    return std::string(b.begin(), b.end());
  }
  std::vector<uint8_t> Rest() { return Bytes(Left()); }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};
