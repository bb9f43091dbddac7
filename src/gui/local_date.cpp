#include "gui/local_date.h"

namespace fw::gui {
namespace {

// The first character of a Qt date or time format that is neither a field letter, a quote nor
// a blank.
QChar SeparatorOf(const QString& format, QChar fallback) {
  for (const QChar c : format) {
    if (!c.isLetter() && c != QLatin1Char('\'') && !c.isSpace())
      return c;
  }
  return fallback;
}

bool IsFixedDateTime(const QString& text) {
  static const QString pattern = QStringLiteral("00/00/00 00:00:00");
  if (text.size() != pattern.size())
    return false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const bool digitWanted = pattern[i] == QLatin1Char('0');
    if (digitWanted ? !text[i].isDigit() : text[i] != pattern[i])
      return false;
  }
  return true;
}

}  // namespace

QChar DateSeparator(const QLocale& locale) {
  return SeparatorOf(locale.dateFormat(QLocale::ShortFormat), QLatin1Char('/'));
}

QChar TimeSeparator(const QLocale& locale) {
  return SeparatorOf(locale.timeFormat(QLocale::ShortFormat), QLatin1Char(':'));
}

QString LocalDateTimeText(const QString& fixed, const QLocale& locale) {
  if (!IsFixedDateTime(fixed))
    return fixed;
  QString text = fixed;
  const QChar date = DateSeparator(locale);
  const QChar time = TimeSeparator(locale);
  text[2] = date;
  text[5] = date;
  text[11] = time;
  text[14] = time;
  return text;
}

}  // namespace fw::gui
