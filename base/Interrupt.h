#pragma once

// A request to stop the running operation, made from a signal handler, a
// console's Ctrl+C handler or a window's Cancel button. The file layer checks
// it before each operation and stops the run there as an error would, so that
// everything written so far is undone; a commit that has written its journal
// is no longer stopped, because completing it is what leaves every file whole.
namespace cryo::interrupt {

// Safe in a signal handler and from any thread. why is a text that lives for
// the whole run ("SIGINT"); the first request's is kept.
void Request(const char* why) noexcept;

// Forgets a request, so that the next operation of a program that goes on
// (a window) runs; called before it starts.
void Clear() noexcept;

// Raises "Stopped by <why>; no file was changed" once a stop is requested,
// unless a Deferral lives on this thread.
void ThrowIfRequested();

// While one lives, requests wait on its thread: for steps that must not be
// cut short (a commit past its journal, undoing a failed run).
class Deferral {
public:
    Deferral();
    ~Deferral();
    Deferral(const Deferral&) = delete;
    Deferral& operator=(const Deferral&) = delete;
};

} // namespace cryo::interrupt
