#pragma once
// Stream codec for attachments: Base64 (uuMime) and bare uuencode lines (uuCode).
//
// Works stream to stream on InStream and OutStream, which the owner sets and keeps (the
// codec owns neither). Encode reads all of InStream from position 0 and leaves OutStream
// at position 0; Decode reads InStream from its current position and leaves both
// positions where decoding stopped. Stream write failures pass through (EWriteError); a
// missing stream raises Exception. Bad data raises nothing: it is skipped or decoded by
// its values.

#include <string>

#include "runtime/Component.h"
#include "runtime/Stream.h"

enum UUMethods { uuMime = 0, uuCode = 1 };

// Value v is the character v + 32, except 0, which is the grave accent.
inline constexpr char UUTABLE[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
inline constexpr char MimeTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Base64 values of the codes 43 ("+") to 122 ("z"), indexed by code - 43: 64 for "=",
// 127 for a character outside the alphabet.
extern const unsigned char base64Table[80];

class TNMUUProcessor : public TComponent {
public:
    explicit TNMUUProcessor(TComponent* AOwner);

    // Writes the encoded lines of all of InStream, each ended by CR LF; uuCode adds a
    // closing line of the grave accent. Fires OnBeginEncode, and OnEndEncode also after a
    // failure.
    void Encode();
    // Writes the decoded bytes of InStream from its position. Fires OnBeginDecode, and
    // OnEndDecode only after success.
    void Decode();
    void Base64Decode();
    void StdDecode();

    // Copies the alphabet of Method into the encoding table.
    void SetEncodeTable();
    // (c - 32) AND 63: the grave accent and the blank both give 0.
    static int UuDEC(char c);
    // The next line of Stream: at most 200 bytes are looked at; a line ending in LF loses
    // the LF and the byte before it (the CR). The position moves past what was returned,
    // never past the end.
    static void ReadLnFromStream(TStream& Stream, std::string& Line);

    TStream* InStream = nullptr;
    TStream* OutStream = nullptr;
    UUMethods Method = uuMime;

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

private:
    char ExchangeTable[64] = {};
};
