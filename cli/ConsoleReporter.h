#pragma once

#include "Reporter.h"

#include <cstdio>

namespace cryo::cli {

// Log lines go to standard output, one per line. Progress is drawn as a bar on
// standard error when that is a terminal, and only when its value changes.
class ConsoleReporter final : public Reporter {
public:
    ConsoleReporter(std::FILE* out, std::FILE* progress, bool showProgress);
    ~ConsoleReporter() override;

    void Log(std::string_view line) override;
    void SetProgress(int position) override;
    void SetProgressRepeated(int position, int) override { SetProgress(position); }
    void Flush() override;

    // Takes the bar off the terminal before other text is shown.
    void ClearProgress();

private:
    void DrawBar();

    std::FILE* out_;
    std::FILE* progress_;
    bool showProgress_;
    int position_ = -1;
    bool barShown_ = false;
};

} // namespace cryo::cli
