// The firmware image module: HEX records and the dsPIC30F memory regions they fill.
#pragma once

#include "core/ihex_record.h"  // IWYU pragma: export
#include "core/ihex_region.h"  // IWYU pragma: export
