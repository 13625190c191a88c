// The report's thumbnailer, loaded from its module when a report is made:
// the other commands never load Qt Gui.
#pragma once

#include "ops/Thumbnailer.h"

#include <memory>
#include <string>

namespace oriel::cli {

// The module beside oriel-cli (a build folder), else in the library folder
// of the prefix oriel-cli is installed in. Null when neither loads;
// `problem` then says why.
std::unique_ptr<Thumbnailer> LoadThumbnailer(std::string& problem);

} // namespace oriel::cli
