// The card's directory as the window's grid and the command line's `list` show it.
#pragma once

#include <span>
#include <string>

#include "core/carddata_layout.h"
#include "core/text_table.h"

namespace fw {

// A caption row, one row per entry (its number from 1, "type - type name", name, Id, date,
// HClass, HRel, SVer, SRel), one empty row; one fixed row and one fixed column.
TextTable EntryTable(std::span<const TRgdEntryInfo> entries);

// "dd/mm/yy hh:mm:ss".
std::string FormatEntryDate(const DateTime& value);

}  // namespace fw
