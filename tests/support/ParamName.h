#pragma once
// Names of table rows for parameterized tests. A row's name becomes part of its
// ctest name, so it must be stable from run to run and readable enough to pick the
// row with `ctest -R`; GoogleTest allows only letters, digits and '_' in it.
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

namespace qlntest {

// "any number: the lowest free" → "AnyNumberTheLowestFree": words in CamelCase,
// everything but letters and digits dropped. For rows that carry a description.
inline std::string LabelName(std::string_view label)
{
    std::string name;
    bool wordStart = true;
    for (char c : label) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\'')
            continue; // "link's" is one word
        if (!std::isalnum(byte)) {
            wordStart = true;
            continue;
        }
        name += wordStart ? static_cast<char>(std::toupper(byte)) : c;
        wordStart = false;
    }
    return name.empty() ? "Empty" : name;
}

// " -0x10" → "_Minus0x10": a value spelled out character by character, letters and
// digits as they are, a blank as '_', other characters by name (or their code), so
// that different values keep different names. For rows whose value is their point.
inline std::string ValueName(std::string_view value)
{
    if (value.empty())
        return "Empty";
    std::string name;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case ' ': name += '_'; break;
        case '\t': name += "Tab"; break;
        case '\n': name += "Lf"; break;
        case '\r': name += "Cr"; break;
        case '\0': name += "Nul"; break;
        case '-': name += "Minus"; break;
        case '+': name += "Plus"; break;
        case '$': name += "Dollar"; break;
        case '.': name += "Dot"; break;
        default:
            if (std::isalnum(byte)) {
                name += c;
            } else {
                char code[4];
                std::snprintf(code, sizeof code, "x%02X", byte);
                name += code;
            }
        }
    }
    return name;
}

} // namespace qlntest
