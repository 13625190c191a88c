// The window's trace lines: they go to the application's trace log, which
// the window application names once at start-up (none in tests that build
// views of their own).
#pragma once

#include "platform/LogSink.h"

#include <string_view>

namespace oriel {

void SetWindowLog(platform::LogSink* log);
void Trace(std::string_view text);

} // namespace oriel
