#pragma once
#include <string>
#include <vector>

#include "control/ControlProtocol.h"
#include "platform/base/Failure.h"
#include "platform/base/UniqueFd.h"

// The two ends of the control socket, in plain POSIX: quillonctl's request and
// wait for the reply, and the console's check of who connected.

enum class ExchangeResult {
    Answered,  // `reply` holds the console's answer
    NoConsole, // nobody listens at the path (no socket, or one a killed console left)
    Failed,    // Why says what went wrong (timeout, a reply that is not one)
};

// What a request to the console came to; Why only when it Failed, its Reason() the
// words for the user.
struct Exchange {
    ExchangeResult Result = ExchangeResult::Failed;
    Failure Why;
};

// Sends `words` to the console listening at `path` and reads its reply, all within
// `seconds`. Never waits without a deadline. A connection the console closes before
// any byte of its reply is tried once more.
Exchange ExchangeWithConsole(const std::string& path, const std::vector<std::string>& words, ControlReply& reply,
                             double seconds);

// The same for a request the console answers with a stream (a monitor): with exit
// code 0 the connection stays open in `stream` (non-blocking), and `pending` holds
// what of the stream came with the reply. Any other reply is as ExchangeWithConsole's.
Exchange OpenConsoleStream(const std::string& path, const std::vector<std::string>& words, ControlReply& reply,
                           double seconds, UniqueFd& stream, std::string& pending);

// Whether the process at the other end of the connected Unix socket `fd` runs as
// this process's effective user (SO_PEERCRED, taken when it connected).
bool PeerIsThisUser(int fd);
