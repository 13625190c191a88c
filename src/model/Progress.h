// Where long operations report progress: the window's status-bar progress
// bar, the empty-cache dialog's bar, or oriel-cli's progress line.
#pragma once

namespace oriel {

class Progress {
public:
    virtual ~Progress() = default;
    virtual void SetRange(int lower, int upper) = 0;
    virtual void SetPos(int position) = 0;
    virtual void OffsetPos(int delta) = 0;
    virtual void StepIt() = 0;
};

} // namespace oriel
