#include "FaultInjection.h"

#include <mutex>

namespace cryo::fault {

namespace detail {

Injector* installed = nullptr;

void BeforeInstalled(Operation op, const std::string& path)
{
    static std::recursive_mutex oneAtATime; // an injector may use the file layer itself
    const std::lock_guard lock(oneAtATime);
    installed->Before(op, path);
}

} // namespace detail

void Install(Injector* injector)
{
    detail::installed = injector;
}

} // namespace cryo::fault
