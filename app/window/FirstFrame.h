// Runs start-up work right behind a window's first frame, so that the frame waits for nothing it
// does not show.
#pragma once

#include <chrono>
#include <functional>

class QWidget;

// Runs `work` once, from the event loop, right after `window` has been painted for the first
// time. A window that is not painted within `longestWait` (shown on another workspace, say) runs
// it then. `work` does not run once `window` is gone.
void runAfterFirstFrame(QWidget& window, std::function<void()> work,
                        std::chrono::milliseconds longestWait = std::chrono::milliseconds(500));
