#include "net/Psock.h"

const std::array<TWinsockMessage, 50> WinsockMessage = {{
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
}};

std::string TPowersock::SocketErrorStr(std::uint16_t ErrorNo)
{
    StatusMessage(8, "Looking Up Error Message");
    if (ErrorNo == 0)
        return "";
    for (const TWinsockMessage& m : WinsockMessage) {
        if (m.ErrorNo == ErrorNo)
            return std::to_string(ErrorNo) + ":" + m.Text;
    }
    return "Unknown Error No. " + std::to_string(ErrorNo);
}

std::string TPowersock::ErrorManager(std::uint16_t Ignored)
{
    FLastErrorNo = ws::GetLastError();
    int error = FLastErrorNo;
    if (error != Ignored && error > 10000) {
        // A broken TLS connection is an aborted one to the socket layer; people get the reason.
        const ws::TlsFailure tls = error == ws::WSAECONNABORTED ? ws::TlsFailureOf(SocketHandle) : ws::TlsFailure::None;
        std::string text = tls != ws::TlsFailure::None ? ws::TlsFailureText(tls) : SocketErrorStr(static_cast<std::uint16_t>(error));
        if (OnError)
            OnError(this, static_cast<std::uint16_t>(error), text);
        throw ESockError(text);
    }
    return "";
}

void TPowersock::SetWSAError(std::uint16_t ErrorNo, const std::string& Message)
{
    StatusMessage(8, "Setting Winsock Error");
    FLastErrorNo = ErrorNo;
    std::string text = Message.empty() ? SocketErrorStr(ErrorNo) : Message;
    ws::SetLastError(ErrorNo);
    if (OnError)
        OnError(this, ErrorNo, text);
}

int TPowersock::GetLastErrorNo()
{
    StatusMessage(8, "Getting LastError Number");
    return FLastErrorNo;
}

void TPowersock::SetLastErrorNo(int Value)
{
    StatusMessage(8, "Setting LastError Number");
    FLastErrorNo = Value;
}
