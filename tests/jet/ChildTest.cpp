#include <gtest/gtest.h>

#include <unistd.h>
#include <csignal>

#include "platform/jet/Child.h"

namespace zr::jet::detail {
namespace {

TEST(JetChildTest, ReportsComeBackWhole) {
  ReadOutcome sent;
  sent.status = ReadStatus::Ok;
  sent.values = {std::string("9.2.0"), std::nullopt, std::string(), std::string("日本語"), std::string(100000, 'x')};
  sent.pagesRead = 7;
  ReadOutcome got = RunInChild([&] { return sent; });
  EXPECT_EQ(got.status, ReadStatus::Ok);
  EXPECT_EQ(got.values, sent.values);
  EXPECT_EQ(got.pagesRead, 7u);

  ReadOutcome missing;
  missing.status = ReadStatus::NoTable;
  missing.missing = "XC_CONTROL";
  got = RunInChild([&] { return missing; });
  EXPECT_EQ(got.status, ReadStatus::NoTable);
  EXPECT_EQ(got.missing, "XC_CONTROL");
}

TEST(JetChildTest, AChildThatDiesIsAnUnreadableFile) {
  EXPECT_EQ(RunInChild([]() -> ReadOutcome {
              raise(SIGKILL);
              return {ReadStatus::Ok, {}, {}, 0};
            }).status,
            ReadStatus::Unreadable);
  EXPECT_EQ(RunInChild([]() -> ReadOutcome { _exit(0); }).status, ReadStatus::Unreadable);
  EXPECT_EQ(RunInChild([]() -> ReadOutcome { throw std::bad_alloc(); }).status, ReadStatus::Unreadable);
}

TEST(JetChildTest, AChildPastItsDeadlineIsEnded) {
  const auto saved = ChildDeadline();
  SetChildDeadline(std::chrono::milliseconds(200));
  int never[2];
  ASSERT_EQ(pipe(never), 0);
  ReadOutcome got = RunInChild([&]() -> ReadOutcome {
    char c;
    (void)read(never[0], &c, 1);  // nobody writes: a read that never ends
    return {ReadStatus::Ok, {}, {}, 0};
  });
  SetChildDeadline(saved);
  close(never[0]);
  close(never[1]);
  EXPECT_EQ(got.status, ReadStatus::Unreadable);
}

TEST(JetChildTest, MalformedReportsAreRefused) {
  ReadOutcome o;
  o.status = ReadStatus::Ok;
  o.values = {std::string("abc"), std::nullopt};
  const std::string good = EncodeOutcome(o);
  ASSERT_TRUE(DecodeOutcome(good));
  for (std::size_t cut = 0; cut < good.size(); ++cut) EXPECT_FALSE(DecodeOutcome(good.substr(0, cut))) << cut;
  EXPECT_FALSE(DecodeOutcome(good + "x"));
  std::string badStatus = good;
  badStatus[0] = 9;
  EXPECT_FALSE(DecodeOutcome(badStatus));
  std::string hugeCount = good;
  hugeCount[9] = '\xff';
  hugeCount[10] = '\xff';
  EXPECT_FALSE(DecodeOutcome(hugeCount));
}

}  // namespace
}  // namespace zr::jet::detail
