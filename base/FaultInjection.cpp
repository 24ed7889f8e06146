#include "FaultInjection.h"

namespace cryo::fault {

namespace detail {
Injector* installed = nullptr;
}

void Install(Injector* injector)
{
    detail::installed = injector;
}

} // namespace cryo::fault
