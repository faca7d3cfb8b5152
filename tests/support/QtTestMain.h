#pragma once
// testsupport_qt: for test executables whose code needs an application object (hidden
// windows, timers, socket notifications). It provides main(), which makes a
// QCoreApplication and runs every test (link it instead of GTest::gtest_main; an executable
// with a main() of its own keeps its own), and a bounded pump for the tests themselves.

#include <chrono>
#include <functional>

namespace testsupport {

// Pumps the calling thread's messages (blocking between events, no busy loop) until
// `done` holds or `limit` has passed; returns `done()`. A heartbeat timer bounds each wait.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
// Pumps for `d` whatever comes.
void PumpFor(std::chrono::milliseconds d);

} // namespace testsupport
