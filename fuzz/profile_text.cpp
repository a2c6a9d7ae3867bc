// The configuration file's text: a file of any bytes, changed by writes, erases and
// replaces of names and values of any bytes. A value written reads back as written,
// and nothing else that read before reads differently after; a refused change
// leaves the text alone; an erased section is gone; the one-pass index answers as
// the reader does; a text written and read again is the same.
#include <map>

#include "FuzzInput.h"
#include "ProfileRoundTrip.h"
#include "platform/base/Text.h"

namespace {

using Probe = std::pair<std::string, std::string>; // section, key

std::string Folded(const std::string& name)
{
    return ToLowerAscii(Trim(name, " \t\r\v\f"));
}

// Names come from a few fixed ones most of the time, so that changes meet.
std::string Name(qlnfuzz::Input& in)
{
    static const char* const Common[] = {"COM1", "com1 ", "Net1RemoteAddr", "NetCount", " A", "a", "[x", ";k", "k=v", ""};
    const uint8_t pick = in.Byte();
    return pick < 200 ? Common[pick % 10] : in.Text();
}

std::map<Probe, std::string> ReadAll(const ProfileText& text, const std::vector<Probe>& probes)
{
    std::map<Probe, std::string> found;
    const ProfileIndex index(text.Content());
    for (const Probe& probe : probes) {
        std::string value, indexed;
        const bool read = text.Read(probe.first, probe.second, value);
        QLN_FUZZ_CHECK(read == index.Read(probe.first, probe.second, indexed));
        QLN_FUZZ_CHECK(value == indexed);
        if (read)
            found[{Folded(probe.first), Folded(probe.second)}] = value;
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qlnfuzz::Input in(data, size);
    ProfileText text(in.TextUntil(0));
    std::vector<Probe> probes;
    for (const char* section : {"COM1", "A", "[x"})
        for (const char* key : {"Net1RemoteAddr", "NetCount", "a", "k"})
            probes.emplace_back(section, key);

    for (int ops = 0; !in.Empty() && ops < 16; ++ops) {
        const uint8_t op = in.Byte();
        const std::string section = Name(in), key = Name(in);
        const std::string value = op & 8 ? in.Text() : Name(in);
        probes.emplace_back(section, key);
        const auto before = ReadAll(text, probes);
        const std::string content = text.Content();
        bool changed = false;
        switch (op % 3) {
        case 0:
            changed = text.Write(section, key, value);
            QLN_FUZZ_CHECK(changed == (ProfileText::IsStorableSection(section) && ProfileText::IsStorableKey(key)
                                       && ProfileText::IsStorableValue(value)));
            break;
        case 1:
            changed = text.Erase(section);
            break;
        default: {
            ProfileText::KeyValues pairs {{key, value}, {Name(in), in.Text()}};
            changed = text.Replace(section, pairs);
            break;
        }
        }
        if (!changed && op % 3 != 1)
            QLN_FUZZ_CHECK(text.Content() == content);
        const auto after = ReadAll(text, probes);
        const std::string s = Folded(section), k = Folded(key);
        if (changed && op % 3 == 0) {
            std::string back;
            QLN_FUZZ_CHECK(text.Read(section, key, back));
            if (qlnfuzz::MustComeBackWhole(value))
                QLN_FUZZ_CHECK(back == value);
            // The same write again changes nothing.
            const std::string once = text.Content();
            QLN_FUZZ_CHECK(text.Write(section, key, value) && text.Content() == once);
        }
        for (const auto& [probe, was] : before) {
            const auto now = after.find(probe);
            if (probe.first == s && (op % 3 != 0 || probe.second == k))
                continue; // the section (or key) that changed
            QLN_FUZZ_CHECK(now != after.end() && now->second == was);
        }
        for (const auto& [probe, is] : after) {
            if (changed && op % 3 == 1)
                QLN_FUZZ_CHECK(probe.first != s);
            if (probe.first != s)
                QLN_FUZZ_CHECK(before.count(probe));
        }
    }
    // Written and read again: the same text, the same answers.
    const ProfileText again(std::string(text.Content()));
    QLN_FUZZ_CHECK(again.Content() == text.Content());
    QLN_FUZZ_CHECK(ReadAll(again, probes) == ReadAll(text, probes));
    return 0;
}
