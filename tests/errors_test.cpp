// Tests of the error reporter: the forms that no command line reaches directly.
#include "core/errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

TEST(ReportFailure, PrintsTheMessageAndAnEmptyLineAndReturnsTheCode) {
  const struct {
    std::function<int32_t()> report;
    int32_t code;
    std::string message;
  } cases[] = {
      {[] { return reportFailure(kErrTapeCorrupted, "t.img", uint32_t{4660}); }, -18,
       "Tape 't.img' corrupted at file offset 00001234\n\n"},
      {[] { return reportFailure(kErrBadBlock, int32_t{99}); }, -19, "Bad block number: 99\n\n"},
      {[] { return reportFailure(kErrBadBlock, "3x,4"); }, -19,
       "Bad number in block list at: `3x,4`\n\n"},
      {[] { return reportFailure(-99); }, -99, "Unknown error code: -99\n\n"},
      {[] { return reportFailure(kErrBadValue, "", "-sr"); }, -17,
       "Bad value '' in option `-sr` !\n\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.report(), c.code);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
}

}  // namespace
