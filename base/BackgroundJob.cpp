#include "BackgroundJob.h"

#include <utility>

namespace cryo {

namespace {

constexpr int WaitRounds = 200;

// Gives the other thread a moment to reach what is awaited before sleeping.
template <typename Done> void WaitALittle(Done&& done)
{
    for (int round = 0; round < WaitRounds && !done(); ++round)
        std::this_thread::yield();
}

} // namespace

BackgroundJob::BackgroundJob()
    : thread_([this] { Run(); })
{
}

BackgroundJob::~BackgroundJob()
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundJob::Start(std::function<void()> job)
{
    Wait();
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
    }
    changed_.notify_all();
}

void BackgroundJob::Wait()
{
    WaitALittle([this] { return !busy_; });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

void BackgroundJob::Both(const std::function<void()>& there, const std::function<void()>& here)
{
    Start([&there] { there(); });
    std::exception_ptr mine;
    try {
        here();
    } catch (...) {
        mine = std::current_exception();
    }
    try {
        Wait();
    } catch (...) {
        if (!mine)
            throw;
    }
    if (mine)
        std::rethrow_exception(mine);
}

void BackgroundJob::Run()
{
    for (;;) {
        WaitALittle([this] { return busy_.load(); });
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return busy_ || stop_; });
        if (!busy_)
            return;
        std::function<void()> job = std::move(job_);
        lock.unlock();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        failure_ = failure;
        busy_ = false;
        changed_.notify_all();
    }
}

} // namespace cryo
