#include "gui/string_grid.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

#include "gui/gui_helpers.h"

namespace fw::gui {
namespace {

constexpr int kTextIndent = 2;

// Draws a cell's text two pixels from its left edge, unelided, as the grids of the system do;
// the widths that AutoSizeGrid gives then show every text whole.
class PlainCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : nullptr;
    if (style != nullptr)
      style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    painter->save();
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(opt.font);
    painter->drawText(opt.rect.adjusted(kTextIndent, 0, 0, 0),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, text);
    painter->restore();
  }
};

}  // namespace

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  horizontalHeader()->hide();
  verticalHeader()->hide();
  horizontalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setMinimumSectionSize(1);
  setShowGrid(true);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setItemDelegate(new PlainCellDelegate(this));
  // A narrower face of the window's font, where the system has one, so that the nine columns
  // of the card entry list fit the window's width.
  QFont narrow = font();
  narrow.setStretch(QFont::SemiCondensed);
  setFont(narrow);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

QString TStringGrid::TextOf(int row, int column, const std::string& text) const {
  return cellText_ ? cellText_(row, column, text) : Q(text);
}

void TStringGrid::SetTable(const TextTable& table) {
  const int currentRow = this->currentRow();
  const int currentColumn = std::max(table.fixedCols, this->currentColumn());
  setRowCount(table.RowCount());
  setColumnCount(table.ColCount());
  clearContents();
  const QBrush caption = palette().brush(QPalette::Button);
  for (int r = 0; r < table.RowCount(); ++r) {
    const auto& row = table.rows[static_cast<std::size_t>(r)];
    // A row shorter than the first leaves its missing cells empty instead of reading past it.
    const int cells = std::min(table.ColCount(), static_cast<int>(row.size()));
    for (int c = 0; c < cells; ++c) {
      auto* item = new QTableWidgetItem(TextOf(r, c, row[static_cast<std::size_t>(c)]));
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      if (r < table.fixedRows || c < table.fixedCols)
        item->setBackground(caption);
      setItem(r, c, item);
    }
  }
  SetHeaderTexts(table.fixedRows > 0, table.fixedCols > 0);
  if (currentRow >= 0 && currentRow < rowCount())
    setCurrentCell(currentRow, std::min(currentColumn, columnCount() - 1));
}

void TStringGrid::SetHeaderTexts(bool captionRow, bool captionColumn) {
  // The hidden header bars carry the caption texts: screen readers announce a cell with them.
  if (captionRow) {
    QStringList captions;
    for (int c = 0; c < columnCount(); ++c)
      captions << Cell(0, c);
    setHorizontalHeaderLabels(captions);
  }
  if (captionColumn) {
    QStringList captions;
    for (int r = 0; r < rowCount(); ++r)
      captions << Cell(r, 0);
    setVerticalHeaderLabels(captions);
  }
}

QString TStringGrid::Cell(int row, int column) const {
  const QTableWidgetItem* cell = item(row, column);
  return cell != nullptr ? cell->text() : QString();
}

int TStringGrid::HeightForRows(int rows) const {
  return rows * (fontMetrics().height() + 2) + 2 * frameWidth() + 1;
}

void AutoSizeGrid(QTableWidget& grid) {
  const QFontMetrics metrics(grid.font());
  for (int c = 0; c < grid.columnCount(); ++c) {
    int width = 0;
    for (int r = 0; r < grid.rowCount(); ++r) {
      const QTableWidgetItem* cell = grid.item(r, c);
      if (cell != nullptr && !cell->text().isEmpty())
        width = std::max(width, metrics.horizontalAdvance(cell->text()));
    }
    grid.setColumnWidth(c, width + 5);
  }
  for (int r = 0; r < grid.rowCount(); ++r) {
    int height = 0;
    for (int c = 0; c < grid.columnCount(); ++c) {
      const QTableWidgetItem* cell = grid.item(r, c);
      const QString text = cell != nullptr ? cell->text() : QString();
      height =
          std::max(height, text.isEmpty()
                               ? metrics.height()
                               : metrics.boundingRect(QRect(0, 0, 10000, 10000), 0, text).height());
    }
    grid.setRowHeight(r, height + 2);
  }
}

}  // namespace fw::gui
