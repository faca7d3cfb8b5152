#pragma once
// The Winsock error texts by number: the table the socket component's error manager
// (TPowersock::SocketErrorStr, ErrorManager in SockErrors.cpp) looks texts up in.

#include <array>

struct TWinsockMessage {
    int ErrorNo;
    const char* Text;
};
// The Winsock error texts, in ascending order of number.
extern const std::array<TWinsockMessage, 50> WinsockMessage;
