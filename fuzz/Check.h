#pragma once
// How the checks of every fuzz target report a broken property: through a `Fail` the
// caller gives (the fuzz targets abort there; the regression tests record a failure).

namespace FuzzCheck {

using Fail = void (*)(const char* what);

inline void Require(bool ok, const char* what, Fail fail)
{
    if (!ok)
        fail(what);
}

} // namespace FuzzCheck
