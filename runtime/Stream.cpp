#include "runtime/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Exception.h"

namespace {
const char* const CreateError =
    "\x83t\x83@\x83" "C\x83\x8b %s \x82\xf0\x8d\xec\x90\xac\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1" /* sjis: ファイル %s を作成できません */;
const char* const OpenError =
    "\x83t\x83@\x83" "C\x83\x8b %s \x82\xcd\x8aJ\x82\xaf\x82\xdc\x82\xb9\x82\xf1" /* sjis: ファイル %s は開けません */;
}

long long TStream::Size()
{
    const long long pos = Seek(0, soCurrent);
    const long long end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, long long count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, long long count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

long long TStream::CopyFrom(TStream& source, long long count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    char buf[65536];
    long long done = 0;
    while (done < count) {
        const long long n = std::min<long long>(count - done, sizeof buf);
        source.ReadBuffer(buf, n);
        WriteBuffer(buf, n);
        done += n;
    }
    return done;
}

TFileStream::TFileStream(const std::string& fileName, TFileMode mode, unsigned permissions) : FileName(fileName)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case fmOpenRead: flags |= O_RDONLY; break;
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    case fmCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    }
    do
        FHandle = ::open(fileName.c_str(), flags, permissions);
    while (FHandle < 0 && errno == EINTR);
    struct stat st {};
    if (FHandle >= 0 && ::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(FHandle);  // a directory opened read-only is no file to read
        FHandle = -1;
    }
    if (FHandle < 0) {
        if (mode == fmCreate || mode == fmCreateNew)
            throw EFCreateError(FormatMessage(CreateError, fileName));
        throw EFOpenError(FormatMessage(OpenError, fileName));
    }
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

namespace {
// Goes on after short transfers and interruptions; stops at the end of the file or an error.
template <class Byte, class Op>
long long TransferAll(Byte* buffer, long long count, Op op)
{
    long long done = 0;
    while (done < count) {
        const ssize_t n = op(buffer + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}
} // namespace

long long TFileStream::Read(void* buffer, long long count)
{
    return TransferAll(static_cast<char*>(buffer), count, [this](char* p, size_t n) { return ::read(FHandle, p, n); });
}

long long TFileStream::Write(const void* buffer, long long count)
{
    return TransferAll(static_cast<const char*>(buffer), count,
                       [this](const char* p, size_t n) { return ::write(FHandle, p, n); });
}

long long TFileStream::Seek(long long offset, TSeekOrigin origin)
{
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    return ::lseek(FHandle, offset, whence);
}

void TFileStream::SetSize(long long size)
{
    if (::ftruncate(FHandle, size) != 0)
        throw EWriteError("Stream write error");
}

bool TFileStream::Flush() { return ::fsync(FHandle) == 0; }

long long TMemoryStream::Read(void* buffer, long long count)
{
    const long long avail = std::max<long long>(0, Size() - FPosition);
    const long long n = std::min(avail, std::max<long long>(0, count));
    if (n > 0)
        std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

long long TMemoryStream::Write(const void* buffer, long long count)
{
    if (count <= 0)
        return 0;
    if (FPosition + count > Size())
        FData.resize(static_cast<size_t>(FPosition + count));
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition += count;
    return count;
}

long long TMemoryStream::Seek(long long offset, TSeekOrigin origin)
{
    long long base = origin == soBeginning ? 0 : origin == soCurrent ? FPosition : Size();
    FPosition = std::max<long long>(0, base + offset);
    return FPosition;
}

void TMemoryStream::SetSize(long long size)
{
    FData.resize(static_cast<size_t>(std::max<long long>(0, size)));
    FPosition = std::min(FPosition, Size());
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    TFileStream f(fileName, fmOpenRead);
    FData.resize(static_cast<size_t>(f.Size()));
    f.ReadBuffer(FData.data(), Size());
    FPosition = 0;
}

void TMemoryStream::SaveToFile(const std::string& fileName)
{
    TFileStream f(fileName, fmCreate);
    f.WriteBuffer(FData.data(), Size());
}
