#include "runtime/Exception.h"

std::string FormatMessage(const std::string& templ, const std::string& value)
{
    const auto at = templ.find("%s");
    if (at == std::string::npos)
        return templ;
    return templ.substr(0, at) + value + templ.substr(at + 2);
}
