// A read-only string grid filled from a TextTable: the fixed rows and columns of the table are
// drawn as captions, every other cell as plain text, with grid lines.
#pragma once

#include <QTableWidget>

#include "core/text_table.h"

namespace fw::gui {

class TStringGrid : public QTableWidget {
  Q_OBJECT

 public:
  explicit TStringGrid(QWidget* parent = nullptr);

  // Replaces every cell with the table; the current row stays where it was when it still exists.
  void SetTable(const TextTable& table);
  QString Cell(int row, int column) const;
  // Height that shows `rows` rows of one text line without scrolling.
  int HeightForRows(int rows) const;
};

// Fits the columns to their widest text (+5 pixels) and the rows to their tallest (+2 pixels),
// measured in the grid's font.
void AutoSizeGrid(QTableWidget& grid);

}  // namespace fw::gui
