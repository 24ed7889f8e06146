#pragma once

#include "Reporter.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cryo::form {

// The log and progress of an operation that runs off the window's thread,
// kept until the window takes them: a freeze logs a line per item, and a
// window that painted each would spend its time painting.
class BatchedReporter final : public Reporter {
public:
    // From the operation's thread.
    void Log(std::string_view line) override;
    void SetProgress(int position) override;
    void SetProgressRepeated(int position, int times) override;

    struct Batch {
        std::vector<std::string> Lines;
        std::optional<int> Progress; // the latest position, if it was set since
    };
    // From the window's thread: everything reported since the last call.
    Batch Take();

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::atomic<int> progress_{-1};
};

} // namespace cryo::form
