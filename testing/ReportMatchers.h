// Test helpers: run code that should raise a report and read the report's
// origin entry. For the foundation library's unit tests.
//
// Thread safety: test code; each call on the thread that raises the report.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "testing/Text.h"
#include "ylib/YException.h"

namespace vel::testing {

// The report body raised, or nothing (and a test failure) when it returned.
template <class Body>
std::optional<CYException> ReportOf(Body&& body) {
  try {
    body();
  } catch (const CYException& x) {
    return x;
  }
  ADD_FAILURE() << "no report was raised";
  return std::nullopt;
}

// A child of the origin (first) entry: "description", "errorcode",
// "sourcefunction" or a detail; "<missing>" when absent.
inline std::u16string Origin(const CYException& x, std::u16string_view child) {
  const auto& entries = x.GetTree().GetChildren();
  if (entries.empty()) return u"<missing>";
  const auto found = entries.front()->GetChildren(child);
  return found.empty() ? u"<missing>" : found.front()->GetValue();
}

// A child of the newest entry (the outermost frame the report left).
inline std::u16string Newest(const CYException& x, std::u16string_view child) {
  const auto& entries = x.GetTree().GetChildren();
  if (entries.empty()) return u"<missing>";
  const auto found = entries.back()->GetChildren(child);
  return found.empty() ? u"<missing>" : found.front()->GetValue();
}

// Expects body to raise a report whose origin has this code.
template <class Body>
void ExpectCode(Body&& body, int code, const std::string& label) {
  if (auto report = ReportOf(body)) {
    EXPECT_EQ(report->GetCode(), code) << label << ": " << U8(report->GetText(kYTextForLog));
  }
}

}  // namespace vel::testing
