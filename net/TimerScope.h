#pragma once
// TimerScope: turns a TPowersock's time-out timer off when a timed operation leaves early
// (by an exception); the normal way out calls Off() where the operation's own order puts
// it. Private to the socket component (its sources and the LineReader.h template).

#include "net/Psock.h"

class TimerScope {
public:
    explicit TimerScope(TPowersock& s) : FSock(s) {}
    ~TimerScope()
    {
        if (!FDone) {
            try {
                FSock.TimerOff();
            } catch (...) {
            }
        }
    }
    TimerScope(const TimerScope&) = delete;
    TimerScope& operator=(const TimerScope&) = delete;
    void Off()
    {
        FDone = true;
        FSock.TimerOff();
    }

private:
    TPowersock& FSock;
    bool FDone = false;
};
