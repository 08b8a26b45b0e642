#include "testing/MmsBuilder.h"

#include <cstdio>

namespace vel::testing {

Bytes B(std::initializer_list<BytePiece> pieces) {
  Bytes out;
  for (const auto& p : pieces) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
  return out;
}

// A WSP uintvar, written independently of the codec under test.
static void PutUintvarForTest(Bytes& out, std::uint32_t v) {
  std::uint8_t g[5];
  int n = 0;
  do {
    g[n++] = v & 0x7F;
    v >>= 7;
  } while (v);
  while (n--) out.push_back(static_cast<std::uint8_t>(g[n] | (n ? 0x80 : 0)));
}

Bytes Entry(const Bytes& headers, const Bytes& data) {
  Bytes out;
  PutUintvarForTest(out, static_cast<std::uint32_t>(headers.size()));
  PutUintvarForTest(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), headers.begin(), headers.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (auto b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  return out;
}

}  // namespace vel::testing
