// Starting a thread with a name: every worker of the engine, the clients and the
// stand-in starts here, so the process's thread list tells what each one is.
#pragma once

#include <functional>
#include <thread>

namespace _VelmoUpload {

// Runs body on a new thread named pName (the kernel keeps the first 15 bytes); the caller joins
// it. Throws std::system_error, as std::thread does, when no thread can be had.
std::thread StartNamedThread(const char* pName, std::function<void()> body);

// The same, detached: nobody joins it, and it owns whatever body carries. False when no thread
// could be had, and then body never runs, so its arguments are still the caller's.
bool StartDetachedThread(const char* pName, std::function<void()> body);

}  // namespace _VelmoUpload
