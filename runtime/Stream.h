#pragma once
// Byte streams: files and memory.
//
// ReadBuffer / WriteBuffer raise EReadError / EWriteError when not every byte moves;
// Read / Write return the count moved. TFileStream raises EFCreateError or EFOpenError
// (texts "ファイル %s を作成できません", "ファイル %s は開けません") when it cannot open.

#include <string>
#include <vector>

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    virtual long long Read(void* buffer, long long count) = 0;
    virtual long long Write(const void* buffer, long long count) = 0;
    virtual long long Seek(long long offset, TSeekOrigin origin) = 0;

    long long Position() { return Seek(0, soCurrent); }
    void SetPosition(long long pos) { Seek(pos, soBeginning); }
    virtual long long Size();
    virtual void SetSize(long long size) = 0;

    void ReadBuffer(void* buffer, long long count);
    void WriteBuffer(const void* buffer, long long count);
    // Copies count bytes from source (all of it from its start when count is 0).
    long long CopyFrom(TStream& source, long long count);
};

// Open modes; fmCreate creates or truncates; fmCreateNew creates a file that is not there
// yet and fails for any name that exists (a link, also a dangling one, included).
enum TFileMode { fmCreate, fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreateNew };

class TFileStream : public TStream {
public:
    // `permissions` applies when the file is created (the process umask still applies).
    TFileStream(const std::string& fileName, TFileMode mode, unsigned permissions = 0666);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    long long Read(void* buffer, long long count) override;
    long long Write(const void* buffer, long long count) override;
    long long Seek(long long offset, TSeekOrigin origin) override;
    void SetSize(long long size) override;
    // Forces the written bytes to the disk; false on failure.
    bool Flush();

    const std::string FileName;

private:
    int FHandle = -1;
};

class TMemoryStream : public TStream {
public:
    long long Read(void* buffer, long long count) override;
    long long Write(const void* buffer, long long count) override;
    long long Seek(long long offset, TSeekOrigin origin) override;
    long long Size() override { return static_cast<long long>(FData.size()); }
    void SetSize(long long size) override;
    void Clear() { FData.clear(); FPosition = 0; }

    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    const std::vector<char>& Memory() const { return FData; }
    std::string DataString() const { return std::string(FData.begin(), FData.end()); }

private:
    std::vector<char> FData;
    long long FPosition = 0;
};
