// The file extension registered for a MIME type.
#pragma once

#include "platform/RegistryReader.h"

#include <string>
#include <string_view>

namespace oriel {

// Reads "Extension" of HKEY_CLASSES_ROOT\MIME\Database\Content Type\<type>
// of the examined system's `registry`; when that gives nothing, the host's MIME database
// supplies the preferred suffix. On success `out` holds the extension with
// its leading dot and the result is positive; otherwise `out` is left as it
// was and the result is -1.
int ExtensionForType(const platform::RegistryReader& registry, std::string_view contentType, std::string& out);

// An extension taken from examined data (the examined system's registry, a
// URL, a body's name) as a working copy's name may use it: a dot and at
// most 15 letters, digits, '_', '-' or '+', so that it can never name
// another folder; empty for anything else.
std::string SafeExtension(std::string_view ext);

} // namespace oriel
