// Implements Origin's numbering.
#include "links/Origin.h"

#include <atomic>

uint64_t Origin::NextSource()
{
    static std::atomic<uint64_t> last {0};
    return ++last;
}
