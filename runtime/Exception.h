#pragma once
// The base exception of the program and the runtime's own failures.
// Every message text is Shift-JIS bytes, shown to the user as it stands.

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// A text that is not an integer ("'%s' は整数ではありません").
class EConvertError : public Exception { using Exception::Exception; };
// A file that cannot be created ("ファイル %s を作成できません").
class EFCreateError : public Exception { using Exception::Exception; };
// A file that cannot be opened ("ファイル %s は開けません").
class EFOpenError : public Exception { using Exception::Exception; };
// A stream that could not read or write the bytes asked for.
class EReadError : public Exception { using Exception::Exception; };
class EWriteError : public Exception { using Exception::Exception; };
// A string list index out of range.
class EStringListError : public Exception { using Exception::Exception; };

// Replaces the first "%s" of a message template with a value.
std::string FormatMessage(const std::string& templ, const std::string& value);
