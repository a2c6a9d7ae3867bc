#include "net/NetIO.h"

#include <memory>

// Linux has no sockets library to start or clean up; the holder keeps its
// counting and its results so the port manager's start and stop behave the same.
// Window thread only, while the port manager is built and destroyed.

namespace {

std::unique_ptr<CNetIO> Instance;
int Uses = 0;

} // namespace

CNetIO* CNetIO::Acquire()
{
    if (!Instance)
        Instance.reset(new CNetIO());
    ++Uses;
    return Instance.get();
}

int CNetIO::Release()
{
    if (Uses <= 0)
        return 0;
    --Uses;
    if (Uses == 0) {
        Instance->Started = 0;
        Instance.reset();
    }
    return Uses;
}

Failure CNetIO::Start()
{
    // Linux sockets need no start-up of their own: only the mark is kept.
    Started = 1;
    return {};
}
