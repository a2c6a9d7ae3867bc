#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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

} // namespace ControlProtocol
