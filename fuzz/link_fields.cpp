// The fields of a new link as the dialog, quillonctl and the configuration file give
// them: host, ports, listen address, allow list, client limit, TLS names and pin.
// A link is taken only when each of its fields is: ports are numbers from 1 to 65535
// and come out as their numbers; a host is one line within the bounds of DNS; a pin
// is 64 hex digits and reads back from its printed form. A refused link is refused
// with a message and the field; and no refused field comes back from the
// configuration file as a shorter one that is taken.
#include "FuzzInput.h"
#include "ProfileRoundTrip.h"
#include "console/LinkFields.h"
#include "net/AllowList.h"
#include "platform/config/WholeNumber.h"

namespace {

bool PortOf(const std::string& text, uint16_t port)
{
    int32_t value = 0;
    return ParseWholeNumber(text, value) && value >= 1 && value <= 65535 && value == port;
}

void CheckHost(const std::string& host)
{
    if (!HostNameProblem(host).empty())
        return;
    QLN_FUZZ_CHECK(!HasLineBreakOrNul(host));
    std::string name = host;
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    QLN_FUZZ_CHECK(name.size() <= MaxHostNameLength);
    for (size_t at = 0; at <= name.size();) {
        const size_t dot = std::min(name.find('.', at), name.size());
        QLN_FUZZ_CHECK(dot - at <= MaxHostLabelLength);
        at = dot + 1;
    }
}

void CheckPin(const std::string& text)
{
    std::array<uint8_t, 32> pin {};
    if (ParsePin(text, pin)) {
        std::string digits = text;
        digits.erase(std::remove(digits.begin(), digits.end(), ':'), digits.end());
        QLN_FUZZ_CHECK(digits.size() == 64 && digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos);
        std::array<uint8_t, 32> again {};
        QLN_FUZZ_CHECK(ParsePin(FingerprintText(pin.data(), pin.size()), again) && again == pin);
    }
}

LinkFields Fields(qlnfuzz::Input& in)
{
    LinkFields fields;
    fields.Kind = static_cast<NetKind>(1 + in.Byte() % 3);
    fields.RemoteAddr = in.Text();
    fields.RemotePort = in.Text();
    fields.LocalPort = in.Text();
    // A listen address is looked for among the machine's: mostly none.
    const uint8_t local = in.Byte();
    fields.LocalAddr = local < 128 ? "" : local < 192 ? "127.0.0.1" : in.Text();
    fields.Allow = in.Text();
    fields.MaxClients = in.Text();
    fields.Tls.On = in.Byte() & 1;
    fields.Tls.Cert = in.Text();
    fields.Tls.Key = in.Text();
    fields.Tls.Pin = in.Text();
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qlnfuzz::Input in(data, size);
    const LinkFields fields = Fields(in);
    CheckHost(fields.RemoteAddr);
    CheckPin(fields.Tls.Pin);
    std::array<uint8_t, 32> random {};
    for (uint8_t& byte : random)
        byte = in.Byte();
    CheckPin(FingerprintText(random.data(), random.size()));

    const LinkCheck check = CheckLink(fields);
    QLN_FUZZ_CHECK(check.Result.Ok == (check.Failed == LinkCheck::Field::None));
    if (!check.Result.Ok) {
        QLN_FUZZ_CHECK(!check.Result.Message.empty());
    } else {
        if (fields.Kind != NetKind::TcpServer)
            QLN_FUZZ_CHECK(PortOf(fields.RemotePort, check.RemotePort) && HostNameProblem(fields.RemoteAddr).empty());
        if (fields.Kind != NetKind::TcpClient) {
            AllowList list;
            QLN_FUZZ_CHECK(PortOf(fields.LocalPort, check.LocalPort) && !AllowList::Parse(fields.Allow, list));
        }
        if (fields.Kind != NetKind::Udp)
            for (const std::string* text : {&fields.Tls.Cert, &fields.Tls.Key, &fields.Tls.Pin})
                QLN_FUZZ_CHECK(!HasLineBreakOrNul(*text));
    }

    // Each field through the configuration file and back.
    LinkFields back = fields;
    for (std::string* text : {&back.RemoteAddr, &back.RemotePort, &back.LocalPort, &back.Allow, &back.MaxClients,
                              &back.Tls.Cert, &back.Tls.Key, &back.Tls.Pin}) {
        const auto read = qlnfuzz::ThroughProfile(*text);
        if (!read || !qlnfuzz::MustComeBackWhole(*text))
            return 0; // a value the file cannot hold is refused on the way in
        *text = *read;
    }
    QLN_FUZZ_CHECK(CheckLink(back).Result.Ok == check.Result.Ok);
    return 0;
}
