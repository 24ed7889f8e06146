#pragma once

#include <string>

namespace cryo::fault {

// Every operation of the file layer, as the test seam sees it.
enum class Operation {
    Open,
    Create,
    Read,
    Write,
    Seek,
    Size,
    Truncate,
    Sync,
    Close,
    Rename,
    Remove,
    Status, // what a file's identity is
};

// Test seam of the file layer: called before each operation, it may throw a
// FileError in the operation's place or end the process there. Production code
// never installs one.
class Injector {
public:
    virtual ~Injector() = default;
    virtual void Before(Operation op, const std::string& path) = 0;
    // False makes replacements take a name from the start, as on systems
    // without unnamed files.
    virtual bool UnnamedFilesAllowed() { return true; }
};

// Installs the injector for the whole process (nullptr removes it).
void Install(Injector* injector);

namespace detail {
extern Injector* installed;
// Hands the injector one operation at a time, as reading threads may meet it at once.
void BeforeInstalled(Operation op, const std::string& path);
} // namespace detail

inline void Before(Operation op, const std::string& path)
{
    if (detail::installed != nullptr)
        detail::BeforeInstalled(op, path);
}

inline bool UnnamedFilesAllowed()
{
    return detail::installed == nullptr || detail::installed->UnnamedFilesAllowed();
}

} // namespace cryo::fault
