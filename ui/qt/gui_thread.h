// Calls into the widgets from other threads. The widgets live on the GUI thread; the procedures
// run on a worker thread and the MIDI input arrives on the driver's thread, and both reach the
// progress window and the boxes through these.
#pragma once

#include <functional>

namespace kfw {

// True on the thread that runs the application's event loop.
bool OnGuiThread();

// Runs work on the GUI thread and returns once it has run; runs it at once when called there. The
// GUI thread must come back to an event loop (the main loop, a box, the wait for a procedure) for
// the call to complete.
void RunOnGuiThread(const std::function<void()>& work);

// Queues work for the GUI thread and returns at once. Work queued from one thread runs in the
// order it was queued.
void PostToGuiThread(std::function<void()> work);

}  // namespace kfw
