#include "FaultInjection.h"

namespace cryo::fault {

namespace detail {
Injector* installed = nullptr;
}

void Install(Injector* injector)
{
    detail::installed = injector;
}

const char* OperationName(Operation op)
{
    switch (op) {
    case Operation::Open:
        return "open";
    case Operation::Create:
        return "create";
    case Operation::Read:
        return "read";
    case Operation::Write:
        return "write";
    case Operation::Seek:
        return "seek";
    case Operation::Size:
        return "size";
    case Operation::Truncate:
        return "truncate";
    case Operation::Sync:
        return "sync";
    case Operation::Close:
        return "close";
    case Operation::Rename:
        return "rename";
    case Operation::Remove:
        return "remove";
    }
    return "?";
}

} // namespace cryo::fault
