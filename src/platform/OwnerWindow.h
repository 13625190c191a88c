// The window that a file operation's dialogs belong to; opaque below the
// faces (the window passes its own, oriel-cli passes none).
#pragma once

namespace oriel {

using OwnerWindow = void*;

} // namespace oriel
