#include "BatchedReporter.h"

namespace cryo::form {

void BatchedReporter::Log(std::string_view line)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(line);
}

void BatchedReporter::SetProgress(int position)
{
    progress_.store(position, std::memory_order_relaxed);
}

void BatchedReporter::SetProgressRepeated(int position, int times)
{
    if (times > 0)
        SetProgress(position);
}

BatchedReporter::Batch BatchedReporter::Take()
{
    Batch batch;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        batch.Lines.swap(lines_);
    }
    if (const int position = progress_.exchange(-1, std::memory_order_relaxed); position >= 0)
        batch.Progress = position;
    return batch;
}

} // namespace cryo::form
