// Implements the texts of LinkTexts.h.
#include "links/LinkTexts.h"

std::string SecondsText(int32_t milliseconds)
{
    std::string text = std::to_string(milliseconds / 1000);
    if (const int32_t rest = milliseconds % 1000; rest != 0) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        while (fraction.back() == '0')
            fraction.pop_back();
        text += "." + fraction;
    }
    return text + " s";
}

std::string StalledText(int32_t limit)
{
    return "took nothing for " + SecondsText(limit) + "; the others were waiting";
}

std::string HandshakeTooLongText(int32_t limit)
{
    return "the TLS handshake took longer than " + SecondsText(limit);
}

std::string ClientLimitText(int32_t limit)
{
    return "the limit of " + std::to_string(limit) + (limit == 1 ? " client" : " clients") + " is reached";
}
