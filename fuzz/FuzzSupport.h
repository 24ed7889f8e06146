#pragma once

// Shared by the fuzz targets: the readers take file names, so every input is
// written to a file in a private scratch folder first.

#include "Error.h"
#include "Reporter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace cryo::fuzz {

// A folder of this process, on a memory file system where there is one.
inline const std::string& Scratch()
{
    static const std::string folder = [] {
        std::string pattern
            = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/cryoweaver-fuzz-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return pattern;
    }();
    // Gone when the process ends normally, as after a run or a replay.
    static const bool removed = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(Scratch(), ignored);
    }) == 0;
    (void)removed;
    return folder;
}

inline std::string ScratchFile(const char* name)
{
    return Scratch() + "/" + name;
}

inline void WriteFileBytes(const std::string& path, const void* data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0)
            std::abort();
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

// A finding that is no crash: the target's own check failed.
[[noreturn]] inline void Mismatch(const char* what)
{
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
}

// Runs fn; the text of the Error it raises, "" for none. Any other exception
// escapes and is a finding.
template <typename Fn> std::string ErrorOf(Fn&& fn)
{
    try {
        fn();
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

} // namespace cryo::fuzz
