#pragma once
// The ways a scripted server breaks one line of a reply, for the fault tests of the POP3
// component and of the main window.

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>

#include "tests/support/ScriptServer.h"

// Tampered is for TLS connections only: a record that fails its check.
enum class Fault { Drop, DropMidLine, Reset, Silent, Garbage, HugeLine, Tampered };

inline constexpr Fault AllFaults[] = {Fault::Drop, Fault::DropMidLine, Fault::Reset, Fault::Silent, Fault::Garbage, Fault::HugeLine};

inline const char* FaultName(Fault f)
{
    switch (f) {
    case Fault::Drop: return "Drop";
    case Fault::DropMidLine: return "DropMidLine";
    case Fault::Reset: return "Reset";
    case Fault::Silent: return "Silent";
    case Fault::Garbage: return "Garbage";
    case Fault::HugeLine: return "HugeLine";
    case Fault::Tampered: return "Tampered";
    }
    return "?";
}

// How test parameters print.
inline void PrintTo(Fault f, std::ostream* os)
{
    *os << FaultName(f);
}

// A line no POP3 server sends (without its line end): no "+OK", no "-ERR", and its first
// and third blank-separated fields are no numbers.
inline const std::string GarbageLine = "\x01\xfe junk \x7f\x80 \x1b$B";

// Appends to `s` what the server does in place of `line` (its text without the line end),
// the connection ending there: closed before it or half-way through it, reset, silent until
// the client closes, or 1 MiB without a line end the client must refuse. Garbage is left
// to the caller (what follows depends on how the client takes it): false then.
inline bool BreakLine(testsupport::Script& s, Fault fault, const std::string& line)
{
    using namespace std::chrono_literals;
    switch (fault) {
    case Fault::Drop: s.Close(); return true;
    case Fault::DropMidLine: s.Send(line.substr(0, std::max<std::size_t>(1, line.size() / 2))).Close(); return true;
    case Fault::Reset: s.Reset(); return true;
    case Fault::Silent: s.WaitForClose(5000ms); return true;
    case Fault::HugeLine: s.Send(std::string(1 << 20, 'x') + "\r\n").WaitForClose(5000ms); return true;
    case Fault::Tampered: s.SendRaw("\x17\x03\x03\x00\x20" + std::string(32, '\x5a')).WaitForClose(5000ms); return true;
    case Fault::Garbage: return false;
    }
    return false;
}
