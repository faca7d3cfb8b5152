#include "net/Psock.h"
#include "net/LineReader.h"
#include "net/TimerScope.h"

#include <algorithm>
#include <cstring>
#include <optional>

// ---- data transfer ----

void TPowersock::ThrowIfCanceled(const char* Text)
{
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError(Text);
    }
}

bool TPowersock::ReceiveChunk(const std::function<void(const char*, int)>& Sink, bool Timed)
{
    int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, 0);
    if (n == 0)
        return false;
    if (n > 0) {
        Sink(TransferBuffer, n);
        FBytesRecvd += n;
        if (OnPacketRecvd)
            OnPacketRecvd(this);
        if (Timed)
            TimerOn();
        return true;
    }
    if (Timed) {
        FLastErrorNo = ws::GetLastError();
        if (FLastErrorNo == ws::WSAENOTCONN)
            return false;
    }
    ErrorManager(ws::WSAEWOULDBLOCK);
    return true;
}

bool TPowersock::SendChunk(const char* Data, int Length, bool Pump)
{
    int remaining = Length;
    std::optional<TimerScope> timed;   // set by the first wait for room, when no one timed the send
    do {
        int n = ws::Send(SocketHandle, Data + (Length - remaining), remaining);
        if (n == 0)
            return false;
        if (n < 0) {
            ErrorManager(ws::WSAEWOULDBLOCK);
            // The peer is not reading: wait in the pump until the socket takes data again,
            // timed from the last progress, so that the time-out and a cancel can end it.
            if (!FTimer->Enabled()) {
                TimerOn();
                timed.emplace(*this);
            }
            ws::AsyncNotifyWritable(SocketHandle);
            WaitPass(FCancelWait);
        } else {
            remaining -= n;
            if (FTimer->Enabled())
                TimerOn();
            if (Pump) {
                BytesSent += n;
                if (OnPacketSent)
                    OnPacketSent(this);
                WaitPass([] { return true; });
            }
        }
    } while (remaining > 0 && !CancelRequested);
    return true;
}

void TPowersock::SendBuffer(const char* Buffer, std::uint16_t Length)
{
    StatusMessage(4, "Sending Buffer");
    // The timer is set only when the socket has no room (SendChunk waits then): a send that
    // goes through at once costs no window timer.
    StartTimeout(false);
    TimerScope timer(*this);
    if (!CancelRequested) {
        std::size_t length = Length;
        if (length == 0) {
            length = strnlen(Buffer, TransferBufferSize);
            if (length > 65535)
                throw ESockError("Send buffer too long: 65536 bytes or more before the end of the text");
        }
        SendChunk(Buffer, static_cast<int>(length), false);
    }
    timer.Off();
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::Write(const std::string& Text)
{
    StatusMessage(8, "Write");
    std::size_t n = std::min(Text.size(), static_cast<std::size_t>(TransferBufferSize));
    std::memcpy(TransferBuffer, Text.data(), n);
    TransferBuffer[n] = '\0';
    SendBuffer(TransferBuffer, 0);
}

void TPowersock::Writeln(const std::string& Text)
{
    StatusMessage(8, "Writeln");
    Write(Text + "\r\n");
}

std::string TPowersock::Read(std::uint16_t Count)
{
    StatusMessage(8, "Read( " + std::to_string(Count) + " )");
    int count = Count;
    if (count == 0) {
        int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, ws::MsgPeek);
        if (n < 0) {
            ErrorManager(ws::WSAEWOULDBLOCK);
            return "";
        }
        count = std::min(n, 65535);
    }
    if (count > 0) {
        do {
            int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, ws::MsgPeek);
            if (n >= count)
                break;
            if (n == 0)
                return "";
            if (n < 0)
                ErrorManager(ws::WSAEWOULDBLOCK);
            else if (FPeerClosed) {
                count = n;   // no more is coming: what is there ends the read
                break;
            }
            WaitPass([this] { return CancelRequested || FPeerClosed; });
        } while (!CancelRequested);
    }
    ThrowIfCanceled("Socket send aborted");
    std::string result(static_cast<std::size_t>(count), '\0');
    int n = ws::Recv(SocketHandle, result.data(), count, 0);
    result.resize(static_cast<std::size_t>(std::max(n, 0)));
    return result;
}

std::string TPowersock::ReadLn()
{
    StatusMessage(8, "ReadLn");
    std::string result;
    auto take = [&result](std::string_view line) {
        result.assign(line);
        return true;
    };
    if (ReadLines(TLineRead{}, take) == TLinesEnd::PeerClosed)
        return "";   // what was read of an unfinished line is gone with the connection
    return result;
}

void TPowersock::ConsumeInput(int Count)
{
    // The same bytes again, now removed from the socket; nothing after them.
    if (Count > 0 && ws::Recv(SocketHandle, TransferBuffer, Count, 0) < 0)
        ErrorManager(ws::WSAEWOULDBLOCK);
}

void TPowersock::LineTooLong(const TLineRead& How, int Consume)
{
    // The rest of that line would be taken for the next line: with DropOnFailure the
    // dialogue cannot go on, and no QUIT may be sent into it.
    if (How.DropOnFailure)
        DropConnection();
    else
        ConsumeInput(Consume);
    throw ESockError("Line too long: no line end within " + std::to_string(TransferBufferSize) + " bytes");
}

void TPowersock::NoteReply(std::string_view Reply)
{
    LastReply.assign(Reply);
    LastReplyCode = 0;
    StatusMessage(1, LastReply);
    LastReplyCode = ReplyCode(Reply);
}

void TPowersock::DropConnection()
{
    if (Connected) {
        try {
            RequestCloseSocket();
        } catch (const ESockError&) {
        }
    }
}

std::string TPowersock::Transaction(const std::string& Command)
{
    StatusMessage(8, "Transaction");
    LastReplyCode = 0;
    Writeln(Command);
    const std::string reply = ReadLn();
    if (reply.empty())
        LastReply.clear();
    else
        NoteReply(reply);
    return LastReply;
}

void TPowersock::SendFile(const std::string& FileName)
{
    StatusMessage(8, "SendFile");
    TFileStream file(FileName, fmOpenRead);
    do {
        if (!CancelRequested) {
            long long got = file.Read(TransferBuffer, TransferBufferSize);
            SendChunk(TransferBuffer, static_cast<int>(std::max(got, 0LL)), true);
        }
    } while (file.Position() != file.Size() && !CancelRequested);
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::SendStream(TStream& Stream)
{
    StatusMessage(8, "SendStream");
    Stream.SetPosition(0);
    if (!CancelRequested) {
        BytesSent = 0;
        FBytesTotal = static_cast<int>(Stream.Size());
        do {
            long long chunk = std::min(Stream.Size() - Stream.Position(), static_cast<long long>(TransferBufferSize));
            Stream.ReadBuffer(TransferBuffer, chunk);
            if (!SendChunk(TransferBuffer, static_cast<int>(chunk), true))
                return;
        } while (Stream.Size() != Stream.Position() && !CancelRequested);
    }
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::AppendFile(const std::string& FileName)
{
    StatusMessage(8, "Append File");
    FBytesRecvd = 0;
    {
        TFileStream file(FileName, fmOpenWrite);
        file.Seek(0, soEnd);
        auto leave = [this] { return !Connected || CancelRequested; };
        auto sink = [&file](const char* data, int n) { file.WriteBuffer(data, n); };
        // Also ends when the peer closed: unread data may have kept Connected set.
        while (!leave() && ReceiveChunk(sink, false))
            WaitPass(leave);
    }
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::CaptureFile(const std::string& FileName)
{
    StatusMessage(8, "CaptureFile");
    FBytesRecvd = 0;
    TimerOn();
    TimerScope timer(*this);
    {
        TFileStream file(FileName, fmCreate);
        auto sink = [&file](const char* data, int n) { file.WriteBuffer(data, n); };
        while (!CancelRequested && ReceiveChunk(sink, true))
            WaitPass([this] { return CancelRequested.load(); });
    }
    timer.Off();
    ThrowIfCanceled("Socket send aborted");
}

void TPowersock::CaptureStream(TStream& Stream, int Size)
{
    StatusMessage(8, "Capture Stream");
    FBytesRecvd = 0;
    TimerOn();
    TimerScope timer(*this);
    auto wanted = [&] { return Size == -1 || Size > Stream.Size(); };
    auto sink = [&Stream](const char* data, int n) { Stream.WriteBuffer(data, n); };
    while (!CancelRequested && wanted()) {
        if (!ReceiveChunk(sink, true))
            break;
        WaitPass([&] { return CancelRequested || Size == -1 || !wanted(); });
        if (Size == -1)
            break;
    }
    timer.Off();
    ThrowIfCanceled("Socket capture aborted");
}

void TPowersock::CaptureString(std::string& Text, int Size)
{
    StatusMessage(8, "Capture String");
    Text.clear();
    FBytesRecvd = 0;
    TimerOn();
    TimerScope timer(*this);
    auto wanted = [&] { return Size == -1 || static_cast<long long>(Text.size()) < Size; };
    auto sink = [&Text](const char* data, int n) { Text.append(data, static_cast<std::size_t>(n)); };
    while (!CancelRequested && wanted() && ReceiveChunk(sink, true))
        WaitPass([&] { return CancelRequested || !wanted(); });
    timer.Off();
    ThrowIfCanceled("Socket capture aborted");
}

void TPowersock::FilterHeader(TStream& Stream)
{
    StatusMessage(8, "FilterHeader");
    std::string line;
    do {
        line = ReadLn();
        if (!line.empty())
            Stream.WriteBuffer(line.data(), static_cast<long long>(line.size()));
    } while (!(line == "\n" || line == "\r\n" || line.empty()));
}

bool TPowersock::DataAvailable()
{
    StatusMessage(8, "Data Available");
    char c;
    return ws::Recv(SocketHandle, &c, 1, ws::MsgPeek) > 0;
}

void TPowersock::ClearInput()
{
    StatusMessage(8, "Clearing Input");
    ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, 0);
}
