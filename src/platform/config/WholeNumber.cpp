#include "platform/config/WholeNumber.h"

namespace {

// Value of one digit in the given base, or -1 when `c` is not a digit of it.
int DigitValue(char c, int base)
{
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

} // namespace

bool ParseWholeNumber(std::string_view text, int32_t& value)
{
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;

    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }

    int base = 10;
    if (pos < text.size() && text[pos] == '$') {
        base = 16;
        pos += 1;
    } else if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }

    if (pos == text.size())
        return false; // nothing, a lone sign or a prefix without digits

    // The magnitude may reach 2^31 (for the smallest negative value); anything
    // beyond that fails at once, so long runs of digits cannot overflow.
    constexpr int64_t limit = int64_t{1} << 31;
    int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        int d = DigitValue(text[pos], base);
        if (d < 0)
            return false;
        magnitude = magnitude * base + d;
        if (magnitude > limit)
            return false;
    }

    int64_t result = negative ? -magnitude : magnitude;
    if (result > INT32_MAX)
        return false;
    value = static_cast<int32_t>(result);
    return true;
}

int32_t ReadWholeNumber(std::string_view text, int32_t fallback)
{
    int32_t value = fallback;
    return ParseWholeNumber(text, value) ? value : fallback;
}
