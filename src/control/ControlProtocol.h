#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/TrafficWatch.h"

// What passes between quillonctl and a running console over the console's control
// socket: one request, one reply, then the console closes the connection.
//
//   request  "QLNCTL/1 <word> <word> ...\n"
//            the command's words, each with '%', blanks, control bytes and DEL
//            written as %XX; at most MaxRequestLine bytes with the newline
//   reply    "QLNCTL/1 <exit code> <out bytes> <err bytes>\n" then the two texts
//
// The first word names the protocol and its version; a console that does not speak
// a client's version answers in its own with exit code 2.
//
// A monitor ("monitor COM<n>") answered with exit code 0 keeps the connection: after
// the reply come the port's records, until the console closes it:
//
//   "R <time> <I|O> <where bytes> <count>\n" <where> <bytes>   one record (TrafficRecord)
//   "M <records>\n"                                            records the monitor missed
//   "E <words>\n"                                              why nothing more comes
//
// all numbers decimal, the time in milliseconds since 1970, at most MaxWhere bytes
// of where and ChunkLimit bytes of a record.
struct ControlReply {
    int Code = 0;    // quillonctl's exit code: 0 done, 1 refused, 2 bad usage
    std::string Out; // for standard output
    std::string Err; // for standard error
};

namespace ControlProtocol {

constexpr std::string_view Version = "QLNCTL/1";
constexpr size_t MaxRequestLine = 16 * 1024;
// A status of thousands of ports and links stays far below this.
constexpr size_t MaxReply = 64 * 1024 * 1024;

// Empty words cannot be carried; callers refuse them before (ParseControlCommand does).
std::string EncodeRequest(const std::vector<std::string>& words);
// `line` without its newline. False, with what is wrong, for anything but a request
// of this version with at least one word.
bool DecodeRequest(std::string_view line, std::vector<std::string>& words, std::string& error);

std::string EncodeReply(const ControlReply& reply);

enum class ReplyState { Complete, Incomplete, Malformed };
// Reads a reply from the bytes received so far.
ReplyState DecodeReply(std::string_view bytes, ControlReply& reply);
// Reads a reply at the start of `bytes`, which may go on with a monitor's stream;
// `used` gets its length.
ReplyState DecodeReplyPrefix(std::string_view bytes, ControlReply& reply, size_t& used);

// ---- a monitor's stream

constexpr size_t MaxWhere = 4096;
constexpr size_t ChunkLimit = 65536;

std::string EncodeRecord(const TrafficRecord& record);
std::string EncodeMissed(uint64_t records);
std::string EncodeEnd(const std::string& words);

struct StreamItem {
    enum class Kind { Record, Missed, End } What = Kind::Record;
    TrafficRecord Record; // Record
    uint64_t Missed = 0;  // Missed
    std::string Words;    // End
};
// Reads the first item of the stream at the front of `bytes`; `used` gets its length
// when it is Complete. Malformed: the stream cannot be read on.
ReplyState DecodeStreamItem(std::string_view bytes, StreamItem& item, size_t& used);

} // namespace ControlProtocol
