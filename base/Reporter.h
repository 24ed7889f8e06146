#pragma once

#include <string_view>

namespace cryo {

// The only channel from the core to whoever runs it. Loading the index calls
// SetProgress for every record, so implementations keep both calls cheap.
class Reporter {
public:
    virtual ~Reporter() = default;

    virtual void Log(std::string_view line) = 0;
    virtual void SetProgress(int position) = 0;

    // Makes the lines logged so far visible now: the work after a
    // "may look crashed" line gives the front end no chance to repaint.
    virtual void Flush() {}
};

class NullReporter final : public Reporter {
public:
    void Log(std::string_view) override {}
    void SetProgress(int) override {}
};

} // namespace cryo
