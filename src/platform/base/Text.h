#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// The text helpers every file format of the console shares. ASCII only: names,
// keys and numbers in the console's files are ASCII; other bytes pass unchanged.

// Whether two names are equal without regard to ASCII letter case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);

// `text` without the `blanks` at either end.
std::string_view Trim(std::string_view text, std::string_view blanks = " \t");

// One line of a text: [Begin, TextEnd) is its text, [TextEnd, End) its line end
// ("\n" or "\r\n"; nothing for a last line that has none).
struct LineSpan {
    size_t Begin;
    size_t TextEnd;
    size_t End;
};

// The lines of `text` in order; an empty text has none.
std::vector<LineSpan> SplitLines(std::string_view text);

// Calls `visit(line)` for each line of `text` in order, without its line end. When
// `visit` returns bool, a false ends the walk.
template <class Visit>
void ForEachLine(std::string_view text, Visit&& visit)
{
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t nl = text.find('\n', pos);
        const size_t end = nl == std::string_view::npos ? text.size() : nl;
        const size_t textEnd = (nl != std::string_view::npos && end > pos && text[end - 1] == '\r') ? end - 1 : end;
        const std::string_view line = text.substr(pos, textEnd - pos);
        if constexpr (std::is_same_v<std::invoke_result_t<Visit, std::string_view>, bool>) {
            if (!visit(line))
                return;
        } else {
            visit(line);
        }
        if (nl == std::string_view::npos)
            return;
        pos = nl + 1;
    }
}

// A count as people read it: "12,288".
std::string GroupedNumber(unsigned long long value);
