#include "audio/mp4/Mp4Atom.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(Mp4AtomTest, HeaderSizeForms) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint64_t limit;
    bool ok;
    std::uint64_t size;
    std::uint32_t headerSize;
  };
  const Row rows[] = {
      {"32-bit size", Bytes({0, 0, 0, 10, 'f', 'r', 'e', 'e', 1, 2}), 10, true, 10, 8},
      {"size 0 runs to the limit", Bytes({0, 0, 0, 0, 'm', 'd', 'a', 't', 1, 2, 3}), 11, true, 11, 8},
      {"64-bit size", Bytes({0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 17, 9}), 17, true, 17, 16},
      {"64-bit size beyond 4 GiB past the end",
       Bytes({0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0, 0, 0, 16}), 16, false, 0, 0},
      {"size below the header", Bytes({0, 0, 0, 7, 'f', 'r', 'e', 'e'}), 8, false, 0, 0},
      {"64-bit size below its header", Bytes({0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 8}), 16, false, 0, 0},
      {"past the parent", Bytes({0, 0, 0, 12, 'f', 'r', 'e', 'e', 0, 0, 0, 0}), 10, false, 0, 0},
      {"header cut short", Bytes({0, 0, 0, 8, 'f', 'r', 'e'}), 7, false, 0, 0},
      {"64-bit header cut short", Bytes({0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0}), 10, false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto atom = ReadMp4Atom(row.bytes, 0, row.limit, vel::ByteOrder::kBig);
    ASSERT_EQ(atom.has_value(), row.ok);
    if (!atom) continue;
    EXPECT_EQ(atom->size, row.size);
    EXPECT_EQ(atom->headerSize, row.headerSize);
  }
}

TEST(Mp4AtomTest, WalkerStopsAtTheFirstMalformedChild) {
  auto bytes = Bytes({0, 0, 0, 8, 'f', 'r', 'e', 'e', 0, 0, 0, 9, 's', 'k', 'i', 'p', 0, 0, 0, 0, 99});
  Mp4AtomWalker walker(bytes, 0, 20, vel::ByteOrder::kBig);
  auto first = walker.Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->type, Mp4Type("free"));
  auto second = walker.Next();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->type, Mp4Type("skip"));
  EXPECT_FALSE(walker.Next());  // three bytes left before 20: not a header
  EXPECT_TRUE(walker.malformed());

  Mp4AtomWalker exact(bytes, 0, 17, vel::ByteOrder::kBig);
  int count = 0;
  while (exact.Next()) ++count;
  EXPECT_EQ(count, 2);
  EXPECT_FALSE(exact.malformed());
}

TEST(Mp4AtomTest, FileTypeNeedsAnAcceptedBrandInEitherByteOrder) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool ok;
    vel::ByteOrder order;
  };
  const Row rows[] = {
      {"M4A big-endian", Bytes({0, 0, 0, 16, 'f', 't', 'y', 'p', 'M', '4', 'A', ' ', 0, 0, 0, 0}), true,
       vel::ByteOrder::kBig},
      {"3GP6", Bytes({0, 0, 0, 12, 'f', 't', 'y', 'p', '3', 'G', 'P', '6'}), true, vel::ByteOrder::kBig},
      {"isom is not accepted", Bytes({0, 0, 0, 12, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'}), false,
       vel::ByteOrder::kBig},
      {"little-endian headers", Bytes({12, 0, 0, 0, 'p', 'y', 't', 'f', '2', '4', 'p', 'm'}), true,
       vel::ByteOrder::kLittle},
      {"not ftyp first", Bytes({0, 0, 0, 12, 'm', 'o', 'o', 'v', 'M', '4', 'A', ' '}), false, vel::ByteOrder::kBig},
      {"ftyp without a brand", Bytes({0, 0, 0, 8, 'f', 't', 'y', 'p'}), false, vel::ByteOrder::kBig},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto type = DetectMp4File(row.bytes);
    ASSERT_EQ(type.has_value(), row.ok);
    if (type) {
      EXPECT_EQ(type->order, row.order);
    }
  }
}

}  // namespace
