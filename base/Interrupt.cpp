#include "Interrupt.h"

#include "Error.h"

#include <atomic>
#include <string>

namespace cryo::interrupt {

namespace {

std::atomic<const char*> requested{nullptr};
// Each thread defers its own steps: a window's worker, not the window.
thread_local int deferrals = 0;

} // namespace

void Request(const char* why) noexcept
{
    const char* none = nullptr;
    requested.compare_exchange_strong(none, why);
}

void Clear() noexcept
{
    requested.store(nullptr);
}

void ThrowIfRequested()
{
    const char* why = requested.load();
    if (why != nullptr && deferrals == 0)
        throw StopError(std::string("Stopped by ") + why + "; no file was changed");
}

Deferral::Deferral()
{
    ++deferrals;
}

Deferral::~Deferral()
{
    --deferrals;
}

} // namespace cryo::interrupt
