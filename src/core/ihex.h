// The firmware image module: HEX records and the dsPIC30F memory regions they fill.
#pragma once

#include "ihex_record.h"  // IWYU pragma: export
#include "ihex_region.h"  // IWYU pragma: export
