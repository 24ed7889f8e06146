#include "ConsoleReporter.h"

namespace cryo::cli {

namespace {
constexpr int BarWidth = 40;
}

ConsoleReporter::ConsoleReporter(std::FILE* out, std::FILE* progress, bool showProgress)
    : out_(out)
    , progress_(progress)
    , showProgress_(showProgress)
{
}

ConsoleReporter::~ConsoleReporter()
{
    ClearProgress();
}

void ConsoleReporter::ClearProgress()
{
    if (!barShown_)
        return;
    std::fputs("\r\033[K", progress_);
    std::fflush(progress_);
    barShown_ = false;
}

void ConsoleReporter::DrawBar()
{
    char bar[BarWidth + 1];
    const int filled = position_ * BarWidth / 100;
    for (int i = 0; i < BarWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[BarWidth] = '\0';
    std::fprintf(progress_, "\r[%s] %3d%%", bar, position_);
    std::fflush(progress_);
    barShown_ = true;
}

void ConsoleReporter::Log(std::string_view line)
{
    const bool redraw = barShown_;
    ClearProgress();
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    if (redraw) {
        std::fflush(out_);
        DrawBar();
    }
}

void ConsoleReporter::SetProgress(int position)
{
    if (position == position_)
        return;
    position_ = position;
    if (showProgress_) {
        std::fflush(out_);
        DrawBar();
    }
}

void ConsoleReporter::Flush()
{
    std::fflush(out_);
}

} // namespace cryo::cli
