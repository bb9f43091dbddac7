#include "core/messages.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "support/recording_presenter.h"

namespace fw {
namespace {

using test::RecordingPresenter;

TEST(FormatMessage, Directives) {
  struct Case {
    std::string_view format;
    std::vector<MessageArg> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"plain", {}, "plain"},
      {"Диск %s: может", {MessageArg{'E'}}, "Диск E: может"},
      {"%s|%d|%u", {std::string("x"), std::int64_t{-5}, std::uint64_t{258}}, "x|-5|258"},
      {"0x%.6x-0x%.6x", {std::uint64_t{0x7FF000}, std::uint64_t{0x1F}}, "0x7FF000-0x00001F"},
      {"%.6x", {std::int64_t{-1}}, "FFFFFFFF"},
      {"%x", {std::uint64_t{0xabc}}, "ABC"},
      {"100%%", {}, "100%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatMessage(c.format, c.args), c.expected) << c.format;
  }
}

TEST(FormatMessage, MismatchIsAProgrammingError) {
  EXPECT_THROW(FormatMessage("%s %s", {std::string("one")}), std::logic_error);
  EXPECT_THROW(FormatMessage("%d", {std::string("text")}), std::logic_error);
  EXPECT_THROW(FormatMessage("none", {std::int64_t{1}}), std::logic_error);
  EXPECT_THROW(FormatMessage("%q", {}), std::logic_error);
}

TEST(UserMessage, KindsHaveTheirStyleAndCaption) {
  RecordingPresenter presenter;
  presenter.everyQuestion = kIdNo;
  EXPECT_EQ(UserMessage(presenter, texts::kFormatConfirm, mkQuestion), kIdNo);
  ASSERT_EQ(presenter.shown.size(), 1u);
  EXPECT_EQ(presenter.shown[0].caption, "Kerrow Ltd Firmware Updater");
  EXPECT_EQ(presenter.shown[0].style.icon, MessageIcon::Question);
  EXPECT_EQ(presenter.shown[0].style.buttons, MessageButtons::YesNo);
  EXPECT_EQ(presenter.shown[0].style.defaultButton, kIdNo);
  const struct {
    TMessageKind kind;
    MessageIcon icon;
    MessageButtons buttons;
    int defaultButton;
  } kinds[] = {
      {mkInformation, MessageIcon::Information, MessageButtons::Ok, kIdOk},
      {mkWarning, MessageIcon::Warning, MessageButtons::RetryCancel, kIdRetry},
      {mkError, MessageIcon::Error, MessageButtons::Ok, kIdOk},
  };
  for (const auto& k : kinds) {
    const auto style = StyleOfKind(k.kind);
    ASSERT_TRUE(style) << k.kind;
    EXPECT_EQ(style->icon, k.icon) << k.kind;
    EXPECT_EQ(style->buttons, k.buttons) << k.kind;
    EXPECT_EQ(style->defaultButton, k.defaultButton) << k.kind;
  }
}

TEST(UserMessage, UnknownKindShowsNothing) {
  RecordingPresenter presenter;
  EXPECT_EQ(UserMessage(presenter, "text", 5), kIdNone);
  EXPECT_EQ(UserMessage(presenter, "text", -1), kIdNone);
  EXPECT_TRUE(presenter.shown.empty());
}

TEST(ReportException, FullStopRule) {
  EXPECT_EQ(ExceptionDisplayText("Свободно 0"), "Свободно 0.");
  EXPECT_EQ(ExceptionDisplayText("Range check error"), "Range check error.");
  EXPECT_EQ(ExceptionDisplayText("done."), "done.");
  EXPECT_EQ(ExceptionDisplayText("done!"), "done!");
  EXPECT_EQ(ExceptionDisplayText("(x)"), "(x)");
  EXPECT_EQ(ExceptionDisplayText("trailing "), "trailing ");
  EXPECT_EQ(ExceptionDisplayText(""), "");
}

TEST(ReportException, ShowsAFailureInAnErrorBoxAndARefusalInItsKindsStyle) {
  RecordingPresenter presenter;
  ReportException(presenter, EListError(-1));
  ReportException(presenter, ERefusal("Выберите файл"));
  ReportException(presenter, ERefusal("Внимание", mkWarning));
  ASSERT_EQ(presenter.shown.size(), 3u);
  // ")" sorts before ".", so the text stays as it is.
  EXPECT_EQ(presenter.shown[0].text, "List index out of bounds (-1)");
  EXPECT_EQ(presenter.shown[0].style.icon, MessageIcon::Error);
  // A refusal is shown as it was written: no full stop is added.
  EXPECT_EQ(presenter.shown[1].text, "Выберите файл");
  EXPECT_EQ(presenter.shown[1].style.icon, MessageIcon::Information);
  EXPECT_EQ(presenter.shown[2].style.icon, MessageIcon::Warning);
  EXPECT_EQ(presenter.shown[2].caption, "Kerrow Ltd Firmware Updater");
}

}  // namespace
}  // namespace fw
