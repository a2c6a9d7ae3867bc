#include "control/ControlProtocol.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace ControlProtocol {

namespace {

bool NeedsEscape(unsigned char c)
{
    return c <= ' ' || c == '%' || c == 0x7F;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool DecodeWord(std::string_view text, std::string& word)
{
    word.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (NeedsEscape(static_cast<unsigned char>(c)) && c != '%')
            return false;
        if (c != '%') {
            word += c;
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return false; // a NUL would cut the word short further on
        word += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return !word.empty();
}

// A decimal number of at most `limit`, the whole of `text`.
bool ReadCount(std::string_view text, size_t limit, size_t& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() && value <= limit;
}

} // namespace

std::string EncodeRequest(const std::vector<std::string>& words)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string line(Version);
    for (const std::string& word : words) {
        line += ' ';
        for (const char c : word) {
            const auto byte = static_cast<unsigned char>(c);
            if (NeedsEscape(byte)) {
                line += '%';
                line += Digits[byte >> 4];
                line += Digits[byte & 0x0F];
            } else {
                line += c;
            }
        }
    }
    return line + '\n';
}

bool DecodeRequest(std::string_view line, std::vector<std::string>& words, std::string& error)
{
    words.clear();
    if (line.size() >= MaxRequestLine) {
        error = "request too long";
        return false;
    }
    const size_t first = line.find(' ');
    if (line.substr(0, first) != Version) {
        error = "this console speaks " + std::string(Version);
        return false;
    }
    if (first == std::string_view::npos) {
        error = "a command is needed";
        return false;
    }
    size_t at = first + 1;
    for (;;) {
        const size_t end = line.find(' ', at);
        std::string word;
        if (!DecodeWord(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at), word)) {
            error = "malformed request";
            return false;
        }
        words.push_back(std::move(word));
        if (end == std::string_view::npos)
            return true;
        at = end + 1;
    }
}

std::string EncodeReply(const ControlReply& reply)
{
    return std::string(Version) + " " + std::to_string(reply.Code) + " " + std::to_string(reply.Out.size()) + " "
        + std::to_string(reply.Err.size()) + "\n" + reply.Out + reply.Err;
}

ReplyState DecodeReply(std::string_view bytes, ControlReply& reply)
{
    size_t used = 0;
    const ReplyState state = DecodeReplyPrefix(bytes, reply, used);
    return state == ReplyState::Complete && used != bytes.size() ? ReplyState::Malformed : state;
}

ReplyState DecodeReplyPrefix(std::string_view bytes, ControlReply& reply, size_t& used)
{
    const size_t newline = bytes.find('\n');
    if (newline == std::string_view::npos)
        return bytes.size() > 128 ? ReplyState::Malformed : ReplyState::Incomplete;
    std::string_view header = bytes.substr(0, newline);
    std::string_view fields[4];
    for (std::string_view& field : fields) {
        const size_t space = header.find(' ');
        field = header.substr(0, space);
        header = space == std::string_view::npos ? std::string_view() : header.substr(space + 1);
    }
    size_t code = 0;
    size_t out = 0;
    size_t err = 0;
    if (fields[0] != Version || !header.empty() || !ReadCount(fields[1], 255, code)
        || !ReadCount(fields[2], MaxReply, out) || !ReadCount(fields[3], MaxReply, err))
        return ReplyState::Malformed;
    const std::string_view body = bytes.substr(newline + 1);
    if (body.size() < out + err)
        return ReplyState::Incomplete;
    reply.Code = static_cast<int>(code);
    reply.Out = body.substr(0, out);
    reply.Err = body.substr(out, err);
    used = newline + 1 + out + err;
    return ReplyState::Complete;
}

std::string EncodeRecord(const TrafficRecord& record)
{
    const std::string_view where(record.Where.data(), std::min(record.Where.size(), MaxWhere));
    std::string frame = "R " + std::to_string(record.Time) + (record.Inbound ? " I " : " O ")
        + std::to_string(where.size()) + " " + std::to_string(record.Bytes.size()) + "\n";
    frame += where;
    frame.append(reinterpret_cast<const char*>(record.Bytes.data()), record.Bytes.size());
    return frame;
}

std::string EncodeMissed(uint64_t records)
{
    return "M " + std::to_string(records) + "\n";
}

std::string EncodeEnd(const std::string& words)
{
    std::string line = "E ";
    for (const char c : words)
        line += c == '\n' || c == '\r' ? ' ' : c;
    return line + "\n";
}

ReplyState DecodeStreamItem(std::string_view bytes, StreamItem& item, size_t& used)
{
    constexpr size_t LongestHeader = 128;
    const size_t newline = bytes.find('\n');
    if (newline == std::string_view::npos)
        return bytes.size() > (bytes.starts_with("E ") ? MaxWhere : LongestHeader) ? ReplyState::Malformed
                                                                                  : ReplyState::Incomplete;
    const std::string_view header = bytes.substr(0, newline);
    item = StreamItem {};
    if (header.starts_with("E ")) {
        item.What = StreamItem::Kind::End;
        item.Words = std::string(header.substr(2));
        used = newline + 1;
        return ReplyState::Complete;
    }
    // The fields after the kind, blank-separated.
    std::vector<std::string_view> fields;
    for (size_t at = 2; at <= header.size();) {
        const size_t blank = std::min(header.find(' ', at), header.size());
        fields.push_back(header.substr(at, blank - at));
        at = blank + 1;
    }
    size_t missed = 0;
    if (header.starts_with("M ") && fields.size() == 1 && ReadCount(fields[0], SIZE_MAX, missed)) {
        item.What = StreamItem::Kind::Missed;
        item.Missed = missed;
        used = newline + 1;
        return ReplyState::Complete;
    }
    size_t time = 0;
    size_t where = 0;
    size_t count = 0;
    if (!header.starts_with("R ") || fields.size() != 4 || (fields[1] != "I" && fields[1] != "O")
        || !ReadCount(fields[0], static_cast<size_t>(INT64_MAX), time) || !ReadCount(fields[2], MaxWhere, where)
        || !ReadCount(fields[3], ChunkLimit, count))
        return ReplyState::Malformed;
    if (bytes.size() < newline + 1 + where + count)
        return ReplyState::Incomplete;
    item.Record.Time = static_cast<int64_t>(time);
    item.Record.Inbound = fields[1] == "I";
    item.Record.Where = std::string(bytes.substr(newline + 1, where));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data() + newline + 1 + where);
    item.Record.Bytes.assign(data, data + count);
    used = newline + 1 + where + count;
    return ReplyState::Complete;
}

} // namespace ControlProtocol
