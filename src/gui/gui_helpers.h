// Small helpers shared by the windows: the core's UTF-8 texts as Qt strings and back, and as
// shown with line breaks; naming a control (the name tests find it by), and the windows' tight
// margins and spacing.
#pragma once

#include <QLayout>
#include <QString>
#include <string>
#include <string_view>

namespace fw::gui {

inline QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string S(const QString& text) {
  return text.toStdString();
}

// A text of the system as a label or a message box shows it: each LF CR pair (and CR LF, and a
// lone CR) becomes one line break.
inline QString DisplayText(std::string_view text) {
  QString shown = Q(text);
  shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// Margins and spacing of a window or group: tight, so that the windows stay close to their
// design sizes while every row of their grids shows.
inline constexpr int kMargin = 6;
inline constexpr int kSpacing = 4;

template <typename Layout>
Layout* Tight(Layout* layout) {
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kSpacing);
  return layout;
}

}  // namespace fw::gui
