#include "ylib/YErrorText.h"

#include <gtest/gtest.h>

#include "platform/com/hresult.h"
#include "ylib/YErrorFrame.h"
#include "platform/text.h"

namespace {

TEST(FormatErrorMessage, SystemTextOrTheFallback) {
  EXPECT_EQ(vel::ToUtf8(FormatErrorMessage(2)), "The system cannot find the file specified.");
  EXPECT_EQ(vel::ToUtf8(FormatErrorMessage(2, 1033)), "The system cannot find the file specified.");
  EXPECT_EQ(vel::ToUtf8(FormatErrorMessage(0x1234567)), "Unable to format error message from error number 19088743");
}

TEST(FormatErrorMessage, Win32ReportsCarryTheHResult) {
  const YFrame frame{u"C::M", u"YTest", 5};
  const CYException x = YReportWin32(2, frame);
  EXPECT_EQ(x.GetCode(), static_cast<HRESULT>(0x80070002u));
  EXPECT_EQ(vel::ToUtf8(x.GetText(0)), "The system cannot find the file specified.\n");
  EXPECT_EQ(YReportWin32(0, frame).GetCode(), 0);
  EXPECT_EQ(YReportHr(E_FAIL, frame).GetCode(), E_FAIL);
  EXPECT_THROW(YThrowWin32(5, frame), CYException);
}

}  // namespace
