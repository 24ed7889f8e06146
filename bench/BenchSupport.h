#pragma once

// Shared pieces of the benchmarks: a scratch folder, file copies, and the
// baselines that every operation is measured against.

#include "File.h"
#include "Reporter.h"
#include "StaticsFiles.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace cryo::bench {

// Progress as a front end takes it: only changes matter.
class LatestReporter final : public Reporter {
public:
    void Log(std::string_view) override { ++lines; }
    void SetProgress(int position) override
    {
        if (position != latest)
            latest = position;
    }
    void SetProgressRepeated(int position, int) override { SetProgress(position); }
    int latest = -1;
    int lines = 0;
};

// Scratch files live under $CRYOWEAVER_BENCH_DIR, or the system's temporary folder.
inline std::string ScratchFolder(const std::string& name)
{
    const char* base = std::getenv("CRYOWEAVER_BENCH_DIR");
    const std::filesystem::path folder
        = std::filesystem::path(base != nullptr ? base : std::filesystem::temp_directory_path().string())
        / ("cryoweaver-bench-" + name);
    std::filesystem::create_directories(folder);
    return folder.string();
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    ReplacementFile file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

inline void CopyFile(const std::string& from, const std::string& to)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// The baseline of the index: the file's bytes read into memory at once.
inline std::size_t PlainReadWhole(const std::string& path, std::size_t size)
{
    File file = File::OpenExisting(path);
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(size);
    const std::size_t got = file.ReadSome(bytes.get(), size);
    benchmark::DoNotOptimize(bytes.get());
    return got;
}

// The baseline of every scan: the file read once in large blocks.
inline std::size_t PlainRead(const std::string& path)
{
    File file = File::OpenForReading(path);
    std::vector<char> buffer(std::size_t{1} << 20);
    std::size_t total = 0;
    while (const std::size_t n = file.ReadSome(buffer.data(), buffer.size()))
        total += n;
    return total;
}

// The baseline of every rewrite: the file read and written whole through the
// same durable replacement the operations use.
inline void PlainReadWrite(const std::string& path)
{
    File in = File::OpenForReading(path);
    ReplacementFile out(path);
    std::vector<char> buffer(std::size_t{1} << 20);
    while (const std::size_t n = in.ReadSome(buffer.data(), buffer.size()))
        out.Write(buffer.data(), n);
    out.Commit();
}

} // namespace cryo::bench
