// Implements the monitor's text of a traffic record.
#include "console/TrafficText.h"

#include "platform/base/EventLog.h"

namespace {

constexpr size_t BytesPerLine = 16;
constexpr char Digits[] = "0123456789ABCDEF";

bool Printable(uint8_t byte)
{
    return byte >= 0x20 && byte < 0x7F;
}

void AppendHexLines(std::string& out, const std::vector<uint8_t>& bytes, bool withText)
{
    for (size_t at = 0; at < bytes.size(); at += BytesPerLine) {
        const size_t end = std::min(bytes.size(), at + BytesPerLine);
        out += "  ";
        for (size_t i = at; i < at + BytesPerLine; ++i) {
            if (i < end) {
                out += Digits[bytes[i] >> 4];
                out += Digits[bytes[i] & 0x0F];
                out += ' ';
            } else if (withText) {
                out += "   ";
            }
        }
        if (withText) {
            out += ' ';
            for (size_t i = at; i < end; ++i)
                out += Printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
        } else {
            out.pop_back();
        }
        out += '\n';
    }
}

void AppendTextLines(std::string& out, const std::vector<uint8_t>& bytes)
{
    bool lineOpen = false;
    for (const uint8_t byte : bytes) {
        if (!lineOpen) {
            out += "  ";
            lineOpen = true;
        }
        switch (byte) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n\n";
            lineOpen = false;
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (Printable(byte)) {
                out += static_cast<char>(byte);
            } else {
                out += "\\x";
                out += Digits[byte >> 4];
                out += Digits[byte & 0x0F];
            }
        }
    }
    if (lineOpen)
        out += '\n';
}

} // namespace

std::string TrafficRecordText(const TrafficRecord& record, TrafficView view)
{
    std::string out = EventLog::TimeText(record.Time) + (record.Inbound ? " I " : " O ")
        + std::to_string(record.Bytes.size());
    if (!record.Where.empty())
        out += (record.Inbound ? " from " : " to ") + record.Where;
    out += '\n';
    out.reserve(out.size() + record.Bytes.size() * 4 + 64);
    switch (view) {
    case TrafficView::Dump:
        AppendHexLines(out, record.Bytes, true);
        break;
    case TrafficView::Hex:
        AppendHexLines(out, record.Bytes, false);
        break;
    case TrafficView::Text:
        AppendTextLines(out, record.Bytes);
        break;
    }
    return out;
}

std::string MissedRecordsText(int64_t time, uint64_t missed)
{
    return EventLog::TimeText(time) + " -- " + std::to_string(missed) + (missed == 1 ? " record" : " records")
        + " missed\n";
}
