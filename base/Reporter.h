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

    // The same as SetProgress(position) called times times in a row; front ends
    // that show only the latest position take it as one call.
    virtual void SetProgressRepeated(int position, int times)
    {
        for (int i = 0; i < times; ++i)
            SetProgress(position);
    }

    // Makes the lines logged so far visible now: the work after a
    // "may look crashed" line gives the front end no chance to repaint.
    virtual void Flush() { }
};

class NullReporter final : public Reporter {
public:
    void Log(std::string_view) override { }
    void SetProgress(int) override { }
    void SetProgressRepeated(int, int) override { }
};

} // namespace cryo
