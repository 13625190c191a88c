// Every cache format's synthetic writer under one name, for tests that
// run the same checks over each format.
#pragma once

#include "support/SynthOptions.h"

#include <functional>
#include <string>
#include <vector>

namespace oriel::test {

struct SyntheticFormat {
    const char* name;
    std::function<void(const std::string&, const SynthOptions&)> write;
};

std::vector<SyntheticFormat> EverySyntheticFormat();

} // namespace oriel::test
