// Registration through velitems while other things happen: a registration is
// one store transaction, so readers never see half of one, concurrent
// registrations take turns, and a store that holds only part of a
// registration is registered again, as a whole, by the first command.
#include <gtest/gtest.h>

#include <string>

#include "testing/CliTest.h"
#include "testing/Mp4Builder.h"
#include "testing/TempRegistry.h"

using namespace vel::testing;

namespace {

class CliRegistrationTest : public CliTest {
 protected:
  std::string Velitems() const { return TestBinDir() + "/velitems"; }
  std::string MakeM4a() {
    const std::string path = dir_ + "/song.m4a";
    EXPECT_TRUE(WriteBytes(path, SmallFile(Item("\xA9nam", 1, Text("A Title")))));
    return path;
  }
};

TEST_F(CliRegistrationTest, AStoreHoldingPartOfARegistrationIsRegisteredAgain) {
  const std::string song = MakeM4a();
  // One module registered by hand, as a registration stopped half way leaves it.
  Result r = CliTest::Velitems("register " + TestBinDir() + "/libVelItems.so");
  ASSERT_EQ(r.status, 0) << r.err;
  r = CliTest::Velitems("read --json " + song);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("registering it"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("A Title"), std::string::npos) << r.out;
  // From then on the store is complete.
  r = CliTest::Velitems("read --json " + song);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

// Four registration loops at once, and readers while the store is registered
// again and again: every run succeeds.
TEST_F(CliRegistrationTest, ConcurrentRegistrationsAndReadsAllSucceed) {
  const std::string song = MakeM4a();
  ASSERT_EQ(CliTest::Velitems("register").status, 0);
  const std::string loop = "for i in 1 2 3 4 5 6; do " + Velitems() + " register >/dev/null 2>&1 || echo FAILED; done";
  const std::string reads = "for i in $(seq 12); do " + Velitems() + " read --json " + song +
                            " 2>&1 | grep -q 'A Title' || echo FAILED; done";
  const ProcessResult r = RunCommand("(" + loop + ") & (" + loop + ") & (" + loop + ") & (" + loop + ") & (" + reads +
                                     ") & (" + reads + ") & wait; echo done");
  EXPECT_EQ(r.out, "done\n");
}

// A store that is no registry store is reported once, with its path, and
// left exactly as it is: nothing is registered into it.
TEST_F(CliRegistrationTest, ADamagedStoreIsReportedOnceAndNeverWritten) {
  const std::string song = MakeM4a();
  const std::string store = dir_ + "/damaged.db";
  const std::string garbage(4096, 'x');
  WriteText(store, garbage);
  const ProcessResult r =
      RunCommand("VEL_REGISTRY=" + store + " " + Velitems() + " read --json " + song + " 2>&1; echo status=$?");
  EXPECT_NE(r.out.find(store), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("registering it"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("status=1"), std::string::npos) << r.out;
  std::size_t mentions = 0;
  for (std::size_t at = r.out.find(store); at != std::string::npos; at = r.out.find(store, at + 1)) ++mentions;
  EXPECT_EQ(mentions, 1u) << r.out;
  EXPECT_EQ(ReadText(store), garbage);
}

}  // namespace
