// Teardowns that belong on the main thread (a session's timer and the platform client it made
// there), whichever thread lets go last: run at once there, handed over while its event loop
// runs, and on the thread that has them once that loop has ended, since nothing handed over
// would run any more.
#pragma once

#include <functional>

class QObject;

namespace MainThreadTeardown {

// Main thread, before anything is handed over: watches for the end of its event loop.
void prepare();
// Any thread.
void run(std::function<void()> teardown);
// Main thread: `atLoopEnd` runs there when its event loop ends, unless `context` is gone.
void whenLoopEnds(QObject* context, std::function<void()> atLoopEnd);

} // namespace MainThreadTeardown
