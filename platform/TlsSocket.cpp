// The TLS calls of the socket layer (Winsock.h): the filter inside the socket record.
#include "platform/SocketTable.h"
#include "platform/Winsock.h"

namespace ws {

using namespace detail;

int TlsStart(SocketHandle s, const TlsClientOptions& options)
{
    (void)s;
    (void)options;
    return Fail(WSAEOPNOTSUPP);
}

TlsState TlsHandshake(SocketHandle) { return TlsState::Failed; }
bool TlsActive(SocketHandle) { return false; }
TlsFailure TlsFailureOf(SocketHandle) { return TlsFailure::HandshakeFailed; }
std::string TlsPeerCertificate(SocketHandle) { return {}; }

} // namespace ws
