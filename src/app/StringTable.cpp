#include "app/StringTable.h"

namespace oriel {

const char* LoadString(int id)
{
    switch (id) {
#define ORIEL_STRING(number, ident, text) \
    case number:                          \
        return text;
#include "StringTable.inc"
#undef ORIEL_STRING
    }
    return "";
}

} // namespace oriel
