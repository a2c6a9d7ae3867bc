#pragma once
#include <cstdint>
#include <string>

#include "forwarding/TrafficTap.h"

// How quillonctl monitor and the monitor window show the records of a port's traffic.
//
// A record is a header line, then its bytes on lines of their own, each indented by
// two blanks:
//
//   2026-12-07 17:30:01.123 I 7 from tcp-server 7000 127.0.0.1:50412
//     48 65 6C 6C 6F 0D 0A                              Hello..
//
// The header: the local time to the millisecond; "I" for bytes to the application
// (from the network) or "O" for bytes from it (to the network); the count; "from" or
// "to" and the link with its peer (for bytes that went out, every link that took
// them, each with its peers, joined by ", "). The bytes:
//   Dump  16 a line, as hexadecimal pairs, then as text (a dot for any byte that is
//         not printable ASCII);
//   Hex   16 a line, hexadecimal pairs alone;
//   Text  as text, a line ending after each LF, with \r, \n, \t, \\ and \xNN for
//         the bytes that are not printable ASCII.
enum class TrafficView { Dump, Hex, Text };

// The header and the bytes' lines, each ending with '\n'.
std::string TrafficRecordText(const TrafficRecord& record, TrafficView view);
// "2026-12-07 17:30:01.500 -- 12 records missed\n": what the monitor did not get.
std::string MissedRecordsText(int64_t time, uint64_t missed);
