// Reader of .reg export files ("REGEDIT4" and "Windows Registry Editor
// Version 5.00"), applied to a MemoryRegistry in the order the files are
// read, so that a later file wins over an earlier one.
//
// A file is applied whole or not at all: one that cannot be read, lacks
// both headers, or has a line that does not parse (a truncated export ends
// in such a line) changes nothing and shows one warning naming the file.
#pragma once

#include "platform/MemoryRegistry.h"

#include <string>
#include <string_view>

namespace oriel::platform {

class RegFile {
public:
    // Reads the export at `path` (a host path) and applies it to `registry`.
    // Returns false, leaving `registry` as it was, with the warning to show
    // in `problem`.
    static bool Apply(const std::string& path, MemoryRegistry& registry, std::string* problem = nullptr);

    // The same for the file's bytes already read; `fileName` names the file
    // in the warning.
    static bool ApplyBytes(std::string_view bytes, const std::string& fileName, MemoryRegistry& registry,
                           std::string* problem = nullptr);

    // Parses without applying and without a warning; on failure sets
    // `error` (when given) to what is wrong, with the line number.
    static bool Check(std::string_view bytes, std::string* error = nullptr);

    // Files larger than this are refused.
    static constexpr size_t kMaxFileSize = size_t(1) << 30;
    // Keys nested deeper than Windows allows are not read.
    static constexpr size_t kMaxKeyDepth = 512;
};

} // namespace oriel::platform
