#pragma once
// The component as the listing benchmarks use it: logged in to the Dovecot fixture, with a
// time-out no listing on loopback reaches.

#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"

namespace bench {

inline void UseServer(TNMPOP3& pop, const DovecotServer& server)
{
    pop.Host = "127.0.0.1";
    pop.Port = server.Port();
    pop.UserID = server.User();
    pop.Password = server.Password();
    pop.TimeOut = 30000;
}

} // namespace bench
