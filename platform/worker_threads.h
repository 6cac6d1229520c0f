// Starting the worker threads of a computation.
//
// A system may refuse a thread (a process limit, no memory for its stack): the
// thread pools of the computations count only the threads that started and let
// them take all the work. Tests make starts fail on purpose through
// SetWorkerThreadStartFailure.
#pragma once

#include <functional>
#include <thread>

namespace tarmic {

// Starts a thread running body into *thread. False when the system could not
// create it (std::thread threw std::system_error or std::bad_alloc); *thread is
// then left as it was.
bool TryStartWorkerThread(std::thread* thread, std::function<void()> body);

// For tests: from the nth start on (1-based, counted from this call) every start of
// TryStartWorkerThread calls fail instead of creating a thread; fail throws what the
// test wants a refused start to throw (std::system_error as under a process limit,
// or any other exception). An empty fail restores the real starts.
void SetWorkerThreadStartFailure(int nth, std::function<void()> fail);

}  // namespace tarmic
