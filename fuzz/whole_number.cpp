// The number rule of the configuration file and the window's numeric fields, against
// a plain reading of the rule: the same texts are numbers, with the same values; a
// number printed reads back; and a text that is no number is never taken as one
// after a trip through the configuration file.
#include <cstring>

#include "FuzzInput.h"
#include "ProfileRoundTrip.h"
#include "platform/config/WholeNumber.h"

namespace {

bool Digit(char c, bool hex)
{
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// The rule as its description states it, with arbitrary precision as far as it matters.
bool Reference(const std::string& text, int32_t& value)
{
    size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos)
        return false;
    const bool negative = text[at] == '-';
    if (text[at] == '-' || text[at] == '+')
        ++at;
    bool hex = false;
    if (text.compare(at, 1, "$") == 0) {
        hex = true;
        at += 1;
    } else if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) {
        hex = true;
        at += 2;
    }
    if (at == text.size())
        return false;
    for (size_t i = at; i < text.size(); ++i)
        if (!Digit(text[i], hex))
            return false;
    const size_t first = std::min(text.find_first_not_of('0', at), text.size());
    if (text.size() - first > 12)
        return false; // far beyond 32 bits either way
    const long long magnitude = first == text.size() ? 0 : std::stoll(text.substr(first), nullptr, hex ? 16 : 10);
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int32_t value = 12345, expected = 12345;
    const bool number = ParseWholeNumber(text, value);
    QLN_FUZZ_CHECK(number == Reference(text, expected));
    QLN_FUZZ_CHECK(value == expected); // untouched when refused
    QLN_FUZZ_CHECK(ReadWholeNumber(text, -7) == (number ? value : -7));
    if (number) {
        int32_t again = 0;
        QLN_FUZZ_CHECK(ParseWholeNumber(std::to_string(value), again) && again == value);
        const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
        char hex[32];
        std::snprintf(hex, sizeof hex, "%s0x%llX", value < 0 ? "-" : "", magnitude);
        QLN_FUZZ_CHECK(ParseWholeNumber(hex, again) && again == value);
    }

    // Through the configuration file: a refused value never comes back as a shorter
    // accepted one, and an accepted one comes back with its value.
    if (const auto back = qlnfuzz::ThroughProfile(text)) {
        if (qlnfuzz::MustComeBackWhole(text))
            QLN_FUZZ_CHECK(*back == text);
        int32_t read = 0;
        if (ParseWholeNumber(*back, read) && qlnfuzz::MustComeBackWhole(text))
            QLN_FUZZ_CHECK(number && read == value);
    }
    return 0;
}
