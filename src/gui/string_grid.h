// A read-only string grid filled from a TextTable: the fixed rows and columns of the table are
// drawn as captions, every other cell as plain text, with grid lines. The caption row (and the
// caption column) are also the grid's header texts for assistive technology; the header bars
// themselves stay hidden.
#pragma once

#include <QTableWidget>
#include <functional>
#include <string>

#include "core/text_table.h"

namespace fw::gui {

class TStringGrid : public QTableWidget {
  Q_OBJECT

 public:
  // How a cell of the table is shown: row and column in the table, the table's text.
  using CellText = std::function<QString(int row, int column, const std::string& text)>;

  explicit TStringGrid(QWidget* parent = nullptr);

  // Replaces every cell with the table; the current cell stays where it was when it still exists,
  // though never in a caption column.
  void SetTable(const TextTable& table);
  // Shows the cells of every later table through `cellText` (empty: the table's text as it is).
  void SetCellText(CellText cellText) { cellText_ = std::move(cellText); }
  QString Cell(int row, int column) const;
  // Height that shows `rows` rows of one text line without scrolling.
  int HeightForRows(int rows) const;

 private:
  void SetHeaderTexts(bool captionRow, bool captionColumn);
  QString TextOf(int row, int column, const std::string& text) const;

  CellText cellText_;
};

// Fits the columns to their widest text (+5 pixels) and the rows to their tallest (+2 pixels),
// measured in the grid's font.
void AutoSizeGrid(QTableWidget& grid);

}  // namespace fw::gui
