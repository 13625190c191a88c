// A progress target that takes every report and shows none.
#pragma once

#include "model/Progress.h"

namespace oriel::test {

class NullProgress : public Progress {
public:
    void SetRange(int, int) override {}
    void SetPos(int) override {}
    void OffsetPos(int) override {}
    void StepIt() override {}
};

} // namespace oriel::test
