#pragma once
// The far end of a link with line control, as plain as Telnet allows: it agrees to
// no option, so what comes from the console is data with every 0xFF doubled and the
// three-byte option offers of the connection's start. What it sends is NVT data: every
// 0xFF doubled and every CR followed by a NUL, as a CR alone goes, since the console
// drops the NUL after a CR from a peer that does not send BINARY. Runs of data move
// with memchr, as a real peer's would.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

class TelnetPeer {
public:
    // Takes the commands out of `data` in place; the count of data bytes left.
    size_t Decode(uint8_t* data, size_t count)
    {
        size_t out = 0;
        for (size_t i = 0; i < count;) {
            if (State == Data) {
                const auto* iac = static_cast<uint8_t*>(std::memchr(data + i, Iac, count - i));
                const size_t run = (iac ? static_cast<size_t>(iac - data) : count) - i;
                std::memmove(data + out, data + i, run);
                out += run;
                i += run;
                if (iac) {
                    State = AfterIac;
                    ++i;
                }
                continue;
            }
            const uint8_t byte = data[i++];
            if (State == AfterIac && byte == Iac) {
                data[out++] = Iac;
                State = Data;
            } else {
                // WILL, WONT, DO, DONT take one byte more; anything else is two bytes.
                State = State == AfterIac && byte >= 251 ? AfterVerb : Data;
            }
        }
        return out;
    }

    static void Escape(const uint8_t* data, size_t count, std::vector<uint8_t>& out)
    {
        const uint8_t* end = data + count;
        while (data < end) {
            const uint8_t* special = std::find_if(data, end, [](uint8_t byte) { return byte == Iac || byte == '\r'; });
            out.insert(out.end(), data, special == end ? end : special + 1);
            if (special == end)
                break;
            out.push_back(*special == Iac ? Iac : 0);
            data = special + 1;
        }
    }

private:
    static constexpr uint8_t Iac = 0xFF;
    enum { Data, AfterIac, AfterVerb } State = Data;
};

} // namespace bench
