#pragma once
#include <cstdint>
#include <string>

// What `quillonctl status --follow` prints after the first status: the facts of
// one moment (StatusFacts) that differ from those of the moment before, each with
// the time it was seen. Nothing when nothing changed.
//
// Text, one line per change:
//   2026-12-07 17:30:05.120 COM1 #2 state: connected (was connecting)
//   2026-12-07 17:30:05.120 COM1 #3 added: UDP / Local Port 7002, Remote Addr:Port …
//   2026-12-07 17:30:05.120 COM1 #3 removed: UDP / Local Port 7002, …
//   2026-12-07 17:30:05.120 COM1 #1: TCP Server / Listen Port 7001 (was TCP Client / …)
// The last form says that the link at that index is another now (an earlier one
// was removed). JSON, one object per line, the same with "name" "added" or
// "removed" for the first two forms and "" for the last:
//   {"time":1796651483080,"what":"COM1 #2","name":"state","value":"connected","was":"connecting"}
std::string StatusChanges(const std::string& before, const std::string& after, int64_t time, bool json);
