// The control socket's protocol, fed a client's bytes, and what quillonctl reads back
// from a console: a request decodes only to the words a request of them encodes to,
// words encode to a request that decodes to them, every decoded request gets a
// parse with a reason or a command; replies and a monitor's stream items read back
// as written, and a reply cut short is never taken as whole.
#include "FuzzInput.h"
#include "control/ControlCommand.h"
#include "control/ControlProtocol.h"

namespace cp = ControlProtocol;

namespace {

void Request(const std::string& line)
{
    std::vector<std::string> words;
    std::string error;
    if (!cp::DecodeRequest(line, words, error)) {
        QLN_FUZZ_CHECK(!error.empty());
        return;
    }
    QLN_FUZZ_CHECK(!words.empty() && line.size() < cp::MaxRequestLine);
    for (const std::string& word : words)
        QLN_FUZZ_CHECK(!word.empty() && word.find('\0') == std::string::npos);
    const std::string encoded = cp::EncodeRequest(words);
    QLN_FUZZ_CHECK(!encoded.empty() && encoded.back() == '\n' && encoded.find('\n') == encoded.size() - 1);
    std::vector<std::string> again;
    QLN_FUZZ_CHECK(cp::DecodeRequest(encoded.substr(0, encoded.size() - 1), again, error) && again == words);
    const ParsedCommand parsed = ParseControlCommand(words);
    QLN_FUZZ_CHECK(parsed.Ok == parsed.Error.empty());
}

void Words(qlnfuzz::Input& in)
{
    std::vector<std::string> words;
    while (!in.Empty() && words.size() < 16) {
        std::string word = in.Text();
        word.erase(std::remove(word.begin(), word.end(), '\0'), word.end());
        if (!word.empty())
            words.push_back(word);
    }
    if (words.empty())
        return;
    const ParsedCommand parsed = ParseControlCommand(words);
    QLN_FUZZ_CHECK(parsed.Ok == parsed.Error.empty());
    const std::string encoded = cp::EncodeRequest(words);
    if (encoded.size() > cp::MaxRequestLine)
        return;
    std::vector<std::string> back;
    std::string error;
    QLN_FUZZ_CHECK(cp::DecodeRequest(encoded.substr(0, encoded.size() - 1), back, error));
    QLN_FUZZ_CHECK(back == words);
}

void Reply(const std::string& bytes)
{
    ControlReply reply;
    size_t used = 0;
    const cp::ReplyState state = cp::DecodeReplyPrefix(bytes, reply, used);
    if (state != cp::ReplyState::Complete)
        return;
    QLN_FUZZ_CHECK(used <= bytes.size());
    const std::string encoded = cp::EncodeReply(reply);
    ControlReply again;
    QLN_FUZZ_CHECK(cp::DecodeReply(encoded, again) == cp::ReplyState::Complete);
    QLN_FUZZ_CHECK(again.Code == reply.Code && again.Out == reply.Out && again.Err == reply.Err);
    for (size_t cut : {size_t(0), encoded.size() / 2, encoded.size() - 1})
        QLN_FUZZ_CHECK(cp::DecodeReply(encoded.substr(0, cut), again) != cp::ReplyState::Complete);
}

void Stream(const std::string& bytes)
{
    cp::StreamItem item;
    size_t used = 0;
    if (cp::DecodeStreamItem(bytes, item, used) != cp::ReplyState::Complete)
        return;
    QLN_FUZZ_CHECK(used > 0 && used <= bytes.size());
    std::string encoded;
    switch (item.What) {
    case cp::StreamItem::Kind::Record:
        QLN_FUZZ_CHECK(item.Record.Where.size() <= cp::MaxWhere && item.Record.Bytes.size() <= cp::ChunkLimit);
        encoded = cp::EncodeRecord(item.Record);
        break;
    case cp::StreamItem::Kind::Missed:
        encoded = cp::EncodeMissed(item.Missed);
        break;
    case cp::StreamItem::Kind::End:
        // The words are one line: a CR goes as a blank.
        encoded = cp::EncodeEnd(item.Words);
        std::replace(item.Words.begin(), item.Words.end(), '\r', ' ');
        break;
    }
    cp::StreamItem again;
    size_t againUsed = 0;
    QLN_FUZZ_CHECK(cp::DecodeStreamItem(encoded, again, againUsed) == cp::ReplyState::Complete);
    QLN_FUZZ_CHECK(againUsed == encoded.size() && again.What == item.What && again.Missed == item.Missed
                   && again.Words == item.Words && again.Record.Time == item.Record.Time
                   && again.Record.Inbound == item.Record.Inbound && again.Record.Where == item.Record.Where
                   && again.Record.Bytes == item.Record.Bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qlnfuzz::Input in(data, size);
    switch (in.Byte() % 4) {
    case 0:
        Request(in.Rest());
        break;
    case 1:
        Words(in);
        break;
    case 2:
        Reply(in.Rest());
        break;
    default:
        Stream(in.Rest());
        break;
    }
    return 0;
}
