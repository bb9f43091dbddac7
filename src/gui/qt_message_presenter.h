// Message boxes of the desktop application: a modal QMessageBox owned by the active window,
// with the caption, icon, buttons and default button of the message's kind.
#pragma once

#include <string_view>

#include "core/messages.h"

namespace fw::gui {

class QtMessagePresenter : public MessagePresenter {
 public:
  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override;
};

}  // namespace fw::gui
