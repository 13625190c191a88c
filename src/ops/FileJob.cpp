#include "ops/FileJob.h"

#include "model/Progress.h"

#include <algorithm>

namespace oriel {

std::string_view FileOutcomeName(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Done:
        return "done";
    case FileOutcome::Failed:
        return "failed";
    case FileOutcome::Skipped:
        return "skipped";
    case FileOutcome::Refused:
        return "refused";
    }
    return "failed";
}

size_t FileJob::CountOf(FileOutcome outcome) const
{
    return size_t(std::count_if(files_.begin(), files_.end(),
                                [outcome](const FileResult& file) { return file.outcome == outcome; }));
}

void FileJob::Record(std::string path, FileOutcome outcome, std::string reason)
{
    files_.push_back({std::move(path), outcome, std::move(reason)});
}

void FileJob::ProgressSetRange(int total)
{
    if (Progress* progress = GetProgress()) {
        progress->SetRange(0, total);
        progress->SetPos(0);
    }
}

void FileJob::ProgressSetPos(int position)
{
    if (Progress* progress = GetProgress())
        progress->SetPos(position);
}

void FileJob::ProgressStep()
{
    if (Progress* progress = GetProgress())
        progress->StepIt();
}

} // namespace oriel
