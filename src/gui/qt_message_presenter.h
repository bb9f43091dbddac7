// Message boxes of the desktop application: a modal QMessageBox owned by the active window,
// with the caption, icon, buttons and default button of the message's kind.
#pragma once

#include <QString>
#include <string_view>

#include "core/messages.h"

namespace fw::gui {

// The text as a box shows it: each LF CR pair (and CR LF, and a lone CR) becomes one line break.
QString DisplayText(std::string_view text);

class QtMessagePresenter : public MessagePresenter {
 public:
  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override;
};

}  // namespace fw::gui
