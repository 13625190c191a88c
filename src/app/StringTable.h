// User-visible texts by their string-table number (res/StringTable.inc).
#pragma once

namespace oriel {

enum StringId : int {
#define ORIEL_STRING(number, id, text) id = number,
#include "StringTable.inc"
#undef ORIEL_STRING
};

// The text for `id`; an empty text for an unknown number.
const char* LoadString(int id);

} // namespace oriel
