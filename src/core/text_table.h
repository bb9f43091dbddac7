// A toolkit-free table of texts: what a grid of the windows shows and what the CLI prints.
#pragma once

#include <string>
#include <vector>

namespace fw {

struct TextTable {
  std::vector<std::vector<std::string>> rows;  // rows[r][c]; every row has the same width
  int fixedRows = 1;                           // caption rows at the top
  int fixedCols = 0;                           // caption columns at the left

  int RowCount() const { return static_cast<int>(rows.size()); }
  int ColCount() const { return rows.empty() ? 0 : static_cast<int>(rows.front().size()); }
};

}  // namespace fw
