#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::rt {
namespace {

RuntimeError Translate(const std::function<void()>& thrower) {
  try {
    thrower();
  } catch (...) {
    return CurrentError();
  }
  return RuntimeError(0, "nothing thrown");
}

TEST(RuntimeErrorTest, CurrentErrorKeepsRunTimeErrorsAndNumbersTheRest) {
  EXPECT_EQ(Translate([] { throw RuntimeError(3031, "pw"); }).number(), 3031);
  EXPECT_EQ(Translate([] { throw std::bad_alloc(); }).number(), err::OutOfMemory);
  const auto foreign = Translate([] { throw std::logic_error("boom"); });
  EXPECT_EQ(foreign.number(), err::Internal);
  EXPECT_NE(foreign.description().find("boom"), std::string::npos);
  EXPECT_EQ(Translate([] { throw 42; }).number(), err::Internal);
}

TEST(RuntimeErrorTest, ErrnoMapsToTheConventionalNumbers) {
  EXPECT_EQ(ErrorFromErrno(ENOENT, "x").number(), 53);
  EXPECT_EQ(ErrorFromErrno(ENOTDIR, "x").number(), 76);
  EXPECT_EQ(ErrorFromErrno(EACCES, "x").number(), 70);
  EXPECT_EQ(ErrorFromErrno(ENOSPC, "x").number(), 61);
  EXPECT_EQ(ErrorFromErrno(ENOMEDIUM, "x").number(), 68);
  EXPECT_EQ(ErrorFromErrno(EIO, "x").number(), 75);
  EXPECT_NE(ErrorFromErrno(EIO, "/data/file").description().find("/data/file"), std::string::npos);
}

TEST(RuntimeErrorTest, MessageBoxWithoutAnAdapterIsARunTimeError) {
  auto previous = InstallInteraction({});
  EXPECT_THROW(MsgBox("x", 0, "t"), RuntimeError);
  InstallInteraction(previous);
}

}  // namespace
}  // namespace zr::rt
