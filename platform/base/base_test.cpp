#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/base/Ascii.h"
#include "platform/base/ByteReader.h"
#include "platform/base/ByteWriter.h"
#include "platform/base/UniqueAny.h"

namespace vel {
namespace {

constexpr std::array<std::uint8_t, 8> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

TEST(ByteReaderTest, ReadsNumbersInEitherOrder) {
  struct Row {
    ByteOrder order;
    std::uint16_t u16;
    std::uint32_t u24;
    std::uint64_t u64;
  };
  for (const Row& row : {Row{ByteOrder::kBig, 0x0102, 0x030405, 0x0102030405060708ull},
                         Row{ByteOrder::kLittle, 0x0201, 0x050403, 0x0807060504030201ull}}) {
    SCOPED_TRACE(static_cast<int>(row.order));
    ByteReader in(kBytes, row.order);
    EXPECT_EQ(in.U16(), row.u16);
    EXPECT_EQ(in.U24(), row.u24);
    in.Seek(0);
    EXPECT_EQ(in.U64(), row.u64);
    EXPECT_TRUE(in.ok());
    EXPECT_TRUE(in.empty());
  }
}

TEST(ByteReaderTest, AShortReadFailsStickilyAndReadsNothing) {
  ByteReader in(kBytes);
  in.Skip(6);
  EXPECT_EQ(in.U32(), 0u);
  EXPECT_FALSE(in.ok());
  EXPECT_EQ(in.position(), 6u);  // the position stays where it was
  EXPECT_TRUE(in.Bytes(3).empty());
  EXPECT_EQ(in.U16(), 0x0708);  // the bytes that are there still read
  EXPECT_FALSE(in.ok());        // but the failure sticks
  in.Seek(9);
  EXPECT_EQ(in.position(), 8u);
}

TEST(ByteReaderTest, TakeBoundsTheChildAndAdvancesTheParent) {
  ByteReader in(kBytes, ByteOrder::kBig, 100);
  in.Skip(2);
  ByteReader child = in.Take(4);
  EXPECT_EQ(in.position(), 6u);
  EXPECT_EQ(child.origin(), 102u);
  EXPECT_EQ(child.size(), 4u);
  EXPECT_EQ(child.U32(), 0x03040506u);
  EXPECT_EQ(child.U8(), 0);  // the parent's next byte is out of the child's reach
  EXPECT_FALSE(child.ok());
  EXPECT_TRUE(in.ok());

  ByteReader tooLong = in.Take(3);
  EXPECT_FALSE(tooLong.ok());
  EXPECT_EQ(tooLong.size(), 0u);
  EXPECT_FALSE(in.ok());
  EXPECT_EQ(in.position(), 6u);
}

TEST(ByteWriterTest, PutsAndPatchesInItsOrder) {
  std::vector<std::uint8_t> out;
  ByteWriter w(out, ByteOrder::kLittle);
  w.PutU32(0);
  w.PutChars("ab");
  w.PutU16(0x0102);
  EXPECT_TRUE(w.PatchU32(0, static_cast<std::uint32_t>(w.position())));
  EXPECT_FALSE(w.PatchU32(6, 1));  // would run past the end: nothing written
  EXPECT_EQ(out, (std::vector<std::uint8_t>{8, 0, 0, 0, 'a', 'b', 0x02, 0x01}));

  std::vector<std::uint8_t> big;
  ByteWriter b(big);
  b.PutU64(0x0102030405060708ull);
  EXPECT_EQ(ByteReader(big).U64(), 0x0102030405060708ull);
}

// A handle kind that counts its closes.
int g_closed = 0;
struct CountingTraits {
  using Type = int;
  static int Invalid() noexcept { return -1; }
  static bool IsValid(int h) noexcept { return h >= 0; }
  static void Close(int) noexcept { ++g_closed; }
};
using CountingHandle = UniqueAny<CountingTraits>;

TEST(UniqueAnyTest, PutClosesWhatItHeldBeforeHandingOutTheSlot) {
  g_closed = 0;
  {
    CountingHandle h(3);
    int* slot = h.put();
    EXPECT_EQ(g_closed, 1);
    EXPECT_EQ(*slot, -1);
    *slot = 4;
    EXPECT_TRUE(h.valid());

    CountingHandle moved(std::move(h));
    EXPECT_FALSE(h.valid());
    EXPECT_EQ(moved.get(), 4);
    EXPECT_EQ(moved.release(), 4);  // given up, not closed
    moved.reset(5);
  }
  EXPECT_EQ(g_closed, 2);  // 3 by put(), 5 at the end of the scope
}

TEST(AsciiTest, OnlyAToZFold) {
  EXPECT_EQ(AsciiLowered(std::u16string(u"Audio/MP4 \u00C9")), u"audio/mp4 \u00C9");
  EXPECT_TRUE(AsciiEqualsNoCase(std::string_view("TEXT/Plain"), std::u16string_view(u"text/plain")));
  EXPECT_FALSE(AsciiEqualsNoCase(std::string_view("\xC9"), std::u16string_view(u"\u00E9")));
  EXPECT_FALSE(AsciiEqualsNoCase(std::string_view("ab"), std::string_view("abc")));
}

}  // namespace
}  // namespace vel
