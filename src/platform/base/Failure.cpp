// Implements Failure: the words of a failure.
#include "platform/base/Failure.h"

#include <cerrno>
#include <cstring>

Failure Failure::OfCall(const char* call, int error)
{
    Failure failure;
    failure.Call = call;
    failure.Errno = error;
    return failure;
}

Failure Failure::OfCall(const char* call)
{
    return OfCall(call, errno);
}

std::string Failure::Reason() const
{
    if (!Words.empty())
        return Words;
    if (Errno != 0)
        return std::strerror(Errno);
    return Call ? "failed" : std::string();
}

std::string Failure::Text() const
{
    return Call ? std::string(Call) + ": " + Reason() : Reason();
}
