// Dates as the user's desktop writes them: the entry list's "dd/mm/yy hh:mm:ss" with the
// locale's date and time separators in place of "/" and ":", the two-digit fields and their
// order kept (05.03.24 14:07:09 on a Russian desktop).
#pragma once

#include <QChar>
#include <QLocale>
#include <QString>

namespace fw::gui {

// The separator of the locale's short date format ("dd.MM.yyyy" gives '.'), '/' when it has
// none; the same for the short time format (':').
QChar DateSeparator(const QLocale& locale);
QChar TimeSeparator(const QLocale& locale);

// "dd/mm/yy hh:mm:ss" with the locale's separators; any other text is returned as it is.
QString LocalDateTimeText(const QString& fixed, const QLocale& locale);

}  // namespace fw::gui
