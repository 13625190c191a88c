// The shape of the jobs that work on files: export, delete, empty, copy and
// move. Besides the job's own result, a file job keeps one outcome per file
// it was asked to handle, in the order it handled them, so that the window
// and oriel-cli can say what became of each file.
#pragma once

#include "model/Job.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

enum class FileOutcome {
    Done,    // the file was written, removed, copied...
    Failed,  // the operation was tried and did not succeed
    Skipped, // not tried: a stop request, or nothing to do
    Refused, // not tried because doing it would be unsafe or is not allowed
};

// "done", "failed", "skipped", "refused".
std::string_view FileOutcomeName(FileOutcome outcome);

struct FileResult {
    std::string path;
    FileOutcome outcome;
    std::string reason; // empty for Done; otherwise a sentence for the user
};

class FileJob : public Job {
public:
    // The outcomes; read after the job has finished.
    const std::vector<FileResult>& Files() const { return files_; }
    size_t CountOf(FileOutcome outcome) const;

protected:
    using Job::Job;

    void Record(std::string path, FileOutcome outcome, std::string reason = {});
    // Progress helpers that do nothing without a progress target.
    void ProgressSetRange(int total);
    void ProgressSetPos(int position);
    void ProgressStep();

private:
    std::vector<FileResult> files_;
};

} // namespace oriel
