#pragma once
// TPowersock::ReadLines, the one reader of lines and whole replies (declared and described
// in Psock.h). A template, so that the line handler of a listing is called directly.
// Included by the sources that read lines; users of the component need only Psock.h.

#include "net/Psock.h"
#include "net/TimerScope.h"

#include <cstring>
#include <string>
#include <string_view>

template <class TakeLine>
TPowersock::TLinesEnd TPowersock::ReadLines(const TLineRead& How, TakeLine&& Take, int* Unconsumed)
{
    // Takes every complete line of what is pending at once (one peek, one receive) instead
    // of one line per receive: a listing asks for thousands of short replies. The first pass
    // looks before it waits: a reply that arrived early was announced once, and that
    // notification may have been handled by an earlier wait.
    TimerOn();
    TimerScope timer(*this);
    std::string partial;   // the received start of a line whose end has not arrived
    for (bool wait = false;; wait = true) {
        if (wait) {
            WaitPass(FCancelWait);
            if (CancelRequested) {
                CancelRequested = false;
                throw EAbortError("Socket readln aborted");
            }
        }
        const int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, ws::MsgPeek);
        if (n == 0)
            return TLinesEnd::PeerClosed;
        if (n < 0) {
            FLastErrorNo = ws::GetLastError();
            // The close notification has replaced the socket: the peer has closed.
            if (FLastErrorNo == ws::WSAENOTCONN)
                return TLinesEnd::PeerClosed;
            try {
                ErrorManager(ws::WSAEWOULDBLOCK);
            } catch (const ESockError&) {
                if (How.DropOnFailure)
                    DropConnection();   // a reset or failed connection carries no more replies
                throw;
            }
            continue;
        }
        int used = 0;
        bool done = false;
        while (!done && used < n) {
            const char* begin = TransferBuffer + used;
            const void* lf = std::memchr(begin, '\n', static_cast<std::size_t>(n - used));
            if (!lf)
                break;
            const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin) + 1;
            // However its pieces arrived, a line longer than the buffer is refused.
            if (partial.size() + length > static_cast<std::size_t>(TransferBufferSize))
                LineTooLong(How, used + TransferBufferSize - static_cast<int>(partial.size()));
            used += static_cast<int>(length);
            if (partial.empty()) {
                done = Take(std::string_view(begin, length));
            } else {
                partial.append(begin, length);
                done = Take(std::string_view(partial));
                partial.clear();
            }
        }
        if (!done && used < n) {
            // The start of a line is taken too, so that an end of the stream behind it shows.
            if (partial.size() + static_cast<std::size_t>(n - used) >= static_cast<std::size_t>(TransferBufferSize))
                LineTooLong(How, used + TransferBufferSize - static_cast<int>(partial.size()));
            partial.append(TransferBuffer + used, static_cast<std::size_t>(n - used));
            used = n;
        }
        if (How.Keep)
            How.Keep->append(TransferBuffer, static_cast<std::size_t>(used));
        if (done && How.KeepLast) {
            *Unconsumed = used;
            return TLinesEnd::Taken;
        }
        ConsumeInput(used);
        if (done)
            return TLinesEnd::Taken;
        if (How.RestartTimeout)
            TimerOn();
    }
}
