// Starting the engine's worker threads: detached, never joined; each owns its argument.
#pragma once

namespace _VelmoUpload {

typedef void* (*ThreadFun)(void* pArguments);

// True when the thread runs; on false the caller still owns pArguments.
bool StartDetachedThread(ThreadFun threadFun, void* pArguments);

}  // namespace _VelmoUpload
