#include "audio/mp4/Mp4RewritePlan.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/Mp4Builder.h"
#include "ylib/YException.h"

namespace {

using namespace vel::testing;

// A builder answering a udta of bodySize pattern bytes.
Mp4UserDataBuilder UserDataOf(std::size_t bodySize, std::uint8_t seed = 0x90) {
  return [=](std::span<const std::uint8_t>, Mp4ByteOrder order) -> std::optional<Bytes> {
    return AtomWriter{order}.UserData(bodySize, seed);
  };
}

Bytes Rewrite(const Bytes& file, const Mp4UserDataBuilder& build, Mp4RewriteStatus expected = Mp4RewriteStatus::kWritten) {
  const Mp4RewritePlan plan = PlanMp4UserDataRewrite(file, build);
  EXPECT_EQ(plan.status, expected);
  const Bytes out = AssembleMp4Rewrite(file, plan);
  EXPECT_EQ(out.size(), plan.size);
  return out;
}

Bytes Slice(const Bytes& bytes, std::uint64_t offset, std::uint64_t size) {
  if (offset > bytes.size() || size > bytes.size() - offset) return {};
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
               bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

// moov's udta in file, as the primitives find it.
Bytes UserDataIn(const Bytes& file, Mp4ByteOrder order) {
  const auto moov = TopLevel(file, "moov", order);
  if (!moov) return {};
  const auto udta = FindMp4Child(file, *moov, Mp4Type("udta"), order);
  return udta ? Slice(file, udta->offset, udta->size) : Bytes();
}

// Checks that hold for every rewrite: the new udta is moov's, the media is
// byte for byte where the shift puts it, and every absolute offset moved by
// the same shift (so it still points at the same media bytes).
void ExpectMediaFollowed(const Bytes& in, const Bytes& out, const Bytes& newUserData, Mp4ByteOrder order,
                         std::int64_t mediaShift) {
  EXPECT_EQ(UserDataIn(out, order), newUserData);
  for (int n = 0;; ++n) {
    const auto oldMdat = TopLevel(in, "mdat", order, n);
    if (!oldMdat) break;
    SCOPED_TRACE("mdat " + std::to_string(n));
    const auto newMdat = TopLevel(out, "mdat", order, n);
    ASSERT_TRUE(newMdat);
    EXPECT_EQ(static_cast<std::int64_t>(newMdat->offset - oldMdat->offset), mediaShift);
    EXPECT_EQ(Slice(out, newMdat->offset, newMdat->size), Slice(in, oldMdat->offset, oldMdat->size));
  }
  const std::vector<std::uint64_t> before = AbsoluteOffsets(in, order);
  const std::vector<std::uint64_t> after = AbsoluteOffsets(out, order);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(static_cast<std::int64_t>(after[i] - before[i]), mediaShift) << "offset " << i;
  }
}

const std::string kTrack = "trak[tkhd mdia[mdhd hdlr minf[smhd stbl[stsd stco]]]]";
const std::string kTrack64 = "trak[tkhd mdia[mdhd hdlr minf[smhd stbl[stsd co64]]]]";

TEST(Mp4RewritePlanTest, Layouts) {
  const auto little = Mp4ByteOrder::kLittle;
  struct Row {
    const char* name;
    MovieLayout layout;
    std::size_t newBody;  // of the new udta; the old one's is 200
    std::string tree;     // of the new file
    std::int64_t moovChange;
    std::int64_t mediaShift;
    std::int64_t sizeChange;
  };
  const Row rows[] = {
      {"a: udta last, media after: padding after moov", {}, 300,
       "ftyp moov[mvhd " + kTrack + " udta] free:2056 mdat", 100, 2156, 2156},
      {"a: shrinking udta without padding", {}, 150, "ftyp moov[mvhd " + kTrack + " udta] free:2056 mdat", -50, 2006,
       2006},
      {"b: free after moov takes up growth", {.freeAfterMoov = 4096}, 300,
       "ftyp moov[mvhd " + kTrack + " udta] free:3996 mdat", 100, 0, 0},
      {"c: free after moov takes up shrinking", {.freeAfterMoov = 4096}, 100,
       "ftyp moov[mvhd " + kTrack + " udta] free:4196 mdat", -100, 0, 0},
      {"d: growth leaving a free of 7 bytes moves the media", {.freeAfterMoov = 4096}, 200 + 4089,
       "ftyp moov[mvhd " + kTrack + " udta] free:4096 mdat", 4089, 4089, 4089},
      {"d: growth leaving a free of 8 bytes is taken up", {.freeAfterMoov = 4096}, 200 + 4088,
       "ftyp moov[mvhd " + kTrack + " udta] free:8 mdat", 4088, 0, 0},
      {"e: udta not last: padding inside moov", {.userDataFirst = true}, 300,
       "ftyp moov[mvhd udta free:2056 " + kTrack + "] mdat", 2156, 2156, 2156},
      {"e: udta not last, free in moov takes up growth", {.userDataFirst = true, .freeInMoov = 500}, 300,
       "ftyp moov[mvhd udta free:400 " + kTrack + "] mdat", 0, 0, 0},
      {"e: udta last, free in moov after it takes up shrinking", {.freeInMoov = 500}, 100,
       "ftyp moov[mvhd " + kTrack + " udta free:600] mdat", 0, 0, 0},
      {"e: no udta: appended with padding after moov", {.userData = false}, 200,
       "ftyp moov[mvhd " + kTrack + " udta] free:2056 mdat", 208, 2264, 2264},
      {"e: no udta, free after moov takes it", {.userData = false, .freeAfterMoov = 4096}, 200,
       "ftyp moov[mvhd " + kTrack + " udta] free:3888 mdat", 208, 0, 0},
      {"e: no udta, moov's last child runs to its end: given an explicit size",
       {.userData = false, .trackToEnd = true}, 200, "ftyp moov[mvhd " + kTrack + " udta] free:2056 mdat", 208, 2264,
       2264},
      {"e: udta not last, the last child runs to the end of moov", {.userDataFirst = true, .trackToEnd = true}, 300,
       "ftyp moov[mvhd udta free:2056 " + kTrack + "] mdat", 2156, 2156, 2156},
      {"e: moov after the media: the media stays", {.mediaFirst = true}, 300,
       "ftyp mdat moov[mvhd " + kTrack + " udta] free:2056", 100, 0, 2156},
      {"e: moov after the media, udta not last", {.userDataFirst = true, .mediaFirst = true}, 300,
       "ftyp mdat moov[mvhd udta free:2056 " + kTrack + "]", 2156, 0, 2156},
      {"e: moov after the media with size field 0 gets an explicit size", {.mediaFirst = true, .moovToEnd = true},
       300, "ftyp mdat moov[mvhd " + kTrack + " udta] free:2056", 100, 0, 2156},
      {"e: 64-bit mdat header and co64", {.mdat64 = true, .co64 = true}, 300,
       "ftyp moov[mvhd " + kTrack64 + " udta] free:2056 mdat", 100, 2156, 2156},
      {"little-endian file", {.order = little}, 300, "ftyp moov[mvhd " + kTrack + " udta] free:2056 mdat", 100,
       2156, 2156},
      {"little-endian, free after moov", {.order = little, .freeAfterMoov = 4096}, 300,
       "ftyp moov[mvhd " + kTrack + " udta] free:3996 mdat", 100, 0, 0},
      {"same size: only the udta changes", {}, 200, "ftyp moov[mvhd " + kTrack + " udta] mdat", 0, 0, 0},
      {"a top-level udta beside moov's stays as it is", {.topLevelUserData = true}, 300,
       "ftyp moov[mvhd " + kTrack + " udta] free:2056 mdat udta", 100, 2156, 2156},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Mp4ByteOrder order = row.layout.order;
    const Bytes in = MakeMovie(row.layout);
    const Bytes newUserData = AtomWriter{order}.UserData(row.newBody, 0x90);
    const Bytes out = Rewrite(in, UserDataOf(row.newBody));
    EXPECT_EQ(Tree(out, order), row.tree);
    EXPECT_EQ(static_cast<std::int64_t>(out.size() - in.size()), row.sizeChange);
    const auto oldMoov = TopLevel(in, "moov", order);
    const auto newMoov = TopLevel(out, "moov", order);
    ASSERT_TRUE(oldMoov && newMoov);
    EXPECT_EQ(static_cast<std::int64_t>(newMoov->size - oldMoov->size), row.moovChange);
    EXPECT_NE(LoadU32Unchecked(out.data() + newMoov->offset, order), 0u);
    ExpectMediaFollowed(in, out, newUserData, order, row.mediaShift);
  }
}

TEST(Mp4RewritePlanTest, SameSizeChangesOnlyTheUserDataBytes) {
  const Bytes in = MakeMovie({});
  const Bytes out = Rewrite(in, UserDataOf(200, 0xA5));
  ASSERT_EQ(out.size(), in.size());
  const auto moov = TopLevel(in, "moov", Mp4ByteOrder::kBig);
  const auto udta = FindMp4Child(in, *moov, Mp4Type("udta"), Mp4ByteOrder::kBig);
  ASSERT_TRUE(udta);
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (i >= udta->body() && i < udta->end()) continue;
    ASSERT_EQ(out[i], in[i]) << "byte " << i;
  }
  EXPECT_NE(Slice(out, udta->body(), udta->bodySize()), Slice(in, udta->body(), udta->bodySize()));
}

TEST(Mp4RewritePlanTest, FragmentOffsetsFollowTheMedia) {
  for (Mp4ByteOrder order : {Mp4ByteOrder::kBig, Mp4ByteOrder::kLittle}) {
    SCOPED_TRACE(order == Mp4ByteOrder::kBig ? "big-endian" : "little-endian");
    const Bytes in = MakeFragmentedMovie(order);
    const std::string fragments =
        "moof[mfhd traf[tfhd trun]] mdat moof[mfhd traf[tfhd trun]] mdat mfra[tfra tfra mfro]";
    ASSERT_EQ(AbsoluteOffsets(in, order).size(), 5u);  // one tfhd base, two entries in each tfra

    const Bytes grown = Rewrite(in, UserDataOf(160));
    EXPECT_EQ(Tree(grown, order), "ftyp moov[mvhd " + kTrack + " mvex[trex] udta] free:2056 " + fragments);
    ExpectMediaFollowed(in, grown, AtomWriter{order}.UserData(160, 0x90), order, 100 + 2056);
    // The second fragment's data is found relative to its own moof: it moved with it.
    const auto oldMoof = TopLevel(in, "moof", order, 1);
    const auto newMoof = TopLevel(grown, "moof", order, 1);
    EXPECT_EQ(Slice(grown, newMoof->offset, newMoof->size), Slice(in, oldMoof->offset, oldMoof->size));

    const Bytes shrunk = Rewrite(grown, UserDataOf(10));
    EXPECT_EQ(Tree(shrunk, order), "ftyp moov[mvhd " + kTrack + " mvex[trex] udta] free:2206 " + fragments);
    ExpectMediaFollowed(grown, shrunk, AtomWriter{order}.UserData(10, 0x90), order, 0);
  }
}

TEST(Mp4RewritePlanTest, RepeatedWritesOutgrowingThePadding) {
  const auto order = Mp4ByteOrder::kBig;
  Bytes file = MakeMovie({});
  struct Step {
    const char* name;
    std::size_t newBody;
    std::string freeText;
    std::int64_t mediaShift;
  };
  const Step steps[] = {
      {"first write grows: padding inserted", 300, "free:2056", 2156},
      {"second write outgrows the padding: everything moves", 300 + 2049, "free:2056", 2049},
      {"third write shrinks into the padding", 300, "free:4105", 0},
      {"fourth write fills the padding to 8 bytes", 300 + 4097, "free:8", 0},
      {"fifth write grows past it", 300 + 4098, "free:8", 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const Bytes out = Rewrite(file, UserDataOf(step.newBody));
    EXPECT_EQ(Tree(out, order), "ftyp moov[mvhd " + kTrack + " udta] " + step.freeText + " mdat");
    ExpectMediaFollowed(file, out, AtomWriter{order}.UserData(step.newBody, 0x90), order, step.mediaShift);
    // The chunk offsets still point at the three chunks of the media.
    const auto mdat = TopLevel(out, "mdat", order);
    ASSERT_TRUE(mdat);
    EXPECT_EQ(AbsoluteOffsets(out, order),
              (std::vector<std::uint64_t>{mdat->body(), mdat->body() + 100, mdat->body() + 200}));
    file = out;
  }
}

TEST(Mp4RewritePlanTest, BuilderSeesTheOldUserDataAndTheByteOrder) {
  struct Row {
    const char* name;
    MovieLayout layout;
    std::size_t oldSize;  // 0: none
  };
  const Row rows[] = {
      {"big-endian udta", {}, 208},
      {"little-endian udta", {.order = Mp4ByteOrder::kLittle}, 208},
      {"no udta", {.userData = false}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes in = MakeMovie(row.layout);
    int calls = 0;
    Bytes seen;
    Mp4ByteOrder seenOrder = row.layout.order == Mp4ByteOrder::kBig ? Mp4ByteOrder::kLittle : Mp4ByteOrder::kBig;
    const Mp4RewritePlan plan = PlanMp4UserDataRewrite(
        in, [&](std::span<const std::uint8_t> old, Mp4ByteOrder order) -> std::optional<Bytes> {
          ++calls;
          seen.assign(old.begin(), old.end());
          seenOrder = order;
          return std::nullopt;
        });
    EXPECT_EQ(plan.status, Mp4RewriteStatus::kUnchanged);
    EXPECT_TRUE(plan.pieces.empty());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenOrder, row.layout.order);
    EXPECT_EQ(seen.size(), row.oldSize);
    if (row.oldSize > 0) {
      EXPECT_EQ(seen, AtomWriter{row.layout.order}.UserData(200, 0x40));
    }
  }
}

TEST(Mp4RewritePlanTest, BuilderAnswerMustBeOneWholeUdtaAtom) {
  const Bytes in = MakeMovie({});
  const AtomWriter w;
  struct Row {
    const char* name;
    Bytes answer;
  };
  const Row rows[] = {
      {"empty", {}},
      {"another type", w.Atom("meta", {Zeros(10)})},
      {"size field 0", Cat({w.U32(0), w.Code("udta"), Zeros(10)})},
      {"size field shorter than the bytes", Cat({w.Atom("udta", {Zeros(10)}), Zeros(3)})},
      {"little-endian header in a big-endian file", AtomWriter{Mp4ByteOrder::kLittle}.UserData(10, 1)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_THROW(PlanMp4UserDataRewrite(in, [&](std::span<const std::uint8_t>, Mp4ByteOrder) -> std::optional<Bytes> {
                   return row.answer;
                 }),
                 CYException);
  }
}

// An stco entry that points past moov (as media after it would).
Bytes MovieWithChunkOffset(const AtomWriter& w, const Bytes& table, std::size_t freeAfterMoov = 0) {
  const Bytes moov = w.Atom("moov", {w.Atom("mvhd", {Zeros(100)}), w.Trak(table), w.UserData(20, 1)});
  return Cat({w.Ftyp("M4A "), moov, freeAfterMoov ? w.Free(freeAfterMoov) : Bytes(), w.Atom("mdat", {Zeros(40)})});
}

TEST(Mp4RewritePlanTest, FilesLeftAlone) {
  const AtomWriter w;
  const Bytes mvhd = w.Atom("mvhd", {Zeros(100)});
  const Bytes mdat = w.Atom("mdat", {Zeros(40)});
  auto movie = [&](std::initializer_list<Bytes> moovBody) { return Cat({w.Ftyp("M4A "), w.Atom("moov", moovBody), mdat}); };
  const Bytes tooManyChunks = w.Atom("stco", {w.U32(0), w.U32(1000), w.U32(1), w.U32(2)});
  const Bytes tfhdCut = w.Atom("moof", {w.Atom("traf", {w.Atom("tfhd", {w.U32(1), w.U32(1), w.U32(0)})})});
  const Bytes tfraTooMany = w.Atom("mfra", {w.Atom("tfra", {w.U32(0), w.U32(1), w.U32(0), w.U32(9), Zeros(11)})});
  const Bytes tfraVersion2 = w.Atom("mfra", {w.Atom("tfra", {w.U32(0x02000000), w.U32(1), w.U32(0), w.U32(0)})});
  struct Row {
    const char* name;
    Bytes file;
    Mp4RewriteStatus status;
  };
  const Row rows[] = {
      {"empty", {}, Mp4RewriteStatus::kNotMp4},
      {"brand isom", Cat({w.Ftyp("isom"), w.Atom("moov", {mvhd}), mdat}), Mp4RewriteStatus::kNotMp4},
      {"no ftyp", Cat({w.Atom("moov", {mvhd}), mdat}), Mp4RewriteStatus::kNotMp4},
      {"no moov", Cat({w.Ftyp("M4A "), mdat}), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"malformed atom before moov", Cat({w.Ftyp("M4A "), w.U32(4), w.Code("junk"), w.Atom("moov", {mvhd}), mdat}),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"moov past the end", Cat({w.Ftyp("M4A "), w.U32(5000), w.Code("moov"), mvhd}),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"malformed moov child", movie({mvhd, w.U32(9999), w.Code("trak")}), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"moov's children do not fill it", movie({mvhd, Zeros(5)}), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"only a top-level udta", MakeMovie({.userData = false, .topLevelUserData = true}),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"only a top-level udta, before moov", Cat({w.Ftyp("M4A "), w.UserData(8, 1), w.Atom("moov", {mvhd}), mdat}),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"stco count beyond its atom", movie({mvhd, w.Trak(tooManyChunks)}), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"stco without its count", movie({mvhd, w.Trak(w.Atom("stco", {w.U32(0)}))}),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"malformed stbl child",
       movie({mvhd, w.Atom("trak", {w.Atom("mdia", {w.Atom("minf", {w.Atom("stbl", {w.U32(3), w.Code("stco")})})})})}),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"malformed trak child", movie({mvhd, w.Atom("trak", {Zeros(4)})}), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"stco entry that would overflow 32 bits", MovieWithChunkOffset(w, w.Stco({0xFFFFF800u})),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"the same entry when nothing moves", MovieWithChunkOffset(w, w.Stco({0xFFFFF800u}), 4096),
       Mp4RewriteStatus::kWritten},
      {"co64 entry that would overflow 64 bits", MovieWithChunkOffset(w, w.Co64({~std::uint64_t{0} - 100})),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"tfhd without room for its base offset", Cat({MakeMovie({}), tfhdCut}),
       Mp4RewriteStatus::kLayoutNotUnderstood},
      {"tfra count beyond its atom", Cat({MakeMovie({}), tfraTooMany}), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"tfra of an unknown version", Cat({MakeMovie({}), tfraVersion2}), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"junk after the last atom is carried along", Cat({MakeMovie({}), Bytes{1, 2, 3}}), Mp4RewriteStatus::kWritten},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int calls = 0;
    const Mp4RewritePlan plan = PlanMp4UserDataRewrite(
        row.file, [&](std::span<const std::uint8_t>, Mp4ByteOrder order) -> std::optional<Bytes> {
          ++calls;
          return AtomWriter{order}.UserData(100, 2);
        });
    EXPECT_EQ(plan.status, row.status);
    if (row.status == Mp4RewriteStatus::kWritten) continue;
    EXPECT_TRUE(plan.pieces.empty());
    // The builder is asked only when the file's layout is understood.
    if (row.status == Mp4RewriteStatus::kNotMp4) {
      EXPECT_EQ(calls, 0);
    }
  }
}

TEST(Mp4RewritePlanTest, JunkAfterTheLastAtomMovesAlong) {
  const Bytes in = Cat({MakeMovie({}), Bytes{1, 2, 3}});
  const Bytes out = Rewrite(in, UserDataOf(300));
  EXPECT_EQ(Tree(out, Mp4ByteOrder::kBig), "ftyp moov[mvhd " + kTrack + " udta] free:2056 mdat !");
  EXPECT_EQ(Slice(out, out.size() - 3, 3), (Bytes{1, 2, 3}));
  ExpectMediaFollowed(in, out, AtomWriter{}.UserData(300, 0x90), Mp4ByteOrder::kBig, 2156);
}

// Every prefix of a valid file: a clean answer, and a written file that
// still holds the new udta where readers look for it.
TEST(Mp4RewritePlanTest, TruncationSweep) {
  struct Row {
    const char* name;
    Bytes file;
    Mp4ByteOrder order;
  };
  const Row rows[] = {
      {"layout a", MakeMovie({}), Mp4ByteOrder::kBig},
      {"free after moov, little-endian", MakeMovie({.order = Mp4ByteOrder::kLittle, .freeAfterMoov = 64}),
       Mp4ByteOrder::kLittle},
      {"media first, 64-bit", MakeMovie({.mediaFirst = true, .mdat64 = true, .co64 = true}), Mp4ByteOrder::kBig},
      {"fragments", MakeFragmentedMovie(Mp4ByteOrder::kBig), Mp4ByteOrder::kBig},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes newUserData = AtomWriter{row.order}.UserData(77, 0x33);
    for (std::size_t n = 0; n <= row.file.size(); ++n) {
      SCOPED_TRACE("prefix " + std::to_string(n));
      const Bytes prefix(row.file.begin(), row.file.begin() + static_cast<std::ptrdiff_t>(n));
      const Mp4RewritePlan plan = PlanMp4UserDataRewrite(prefix, UserDataOf(77, 0x33));
      if (plan.status != Mp4RewriteStatus::kWritten) {
        ASSERT_TRUE(plan.status == Mp4RewriteStatus::kNotMp4 ||
                    plan.status == Mp4RewriteStatus::kLayoutNotUnderstood);
        ASSERT_TRUE(plan.pieces.empty());
        continue;
      }
      const Bytes out = AssembleMp4Rewrite(prefix, plan);
      ASSERT_EQ(out.size(), plan.size);
      Mp4RewriteStatus failure = Mp4RewriteStatus::kWritten;
      const auto place = FindMp4UserData(out, failure);
      ASSERT_TRUE(place);
      ASSERT_TRUE(place->udta);
      ASSERT_EQ(Slice(out, place->udta->offset, place->udta->size), newUserData);
    }
  }
}

}  // namespace
