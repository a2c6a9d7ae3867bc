#include "platform/config/ProfileText.h"

#include "platform/base/Text.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view TrimValue(std::string_view s)
{
    return Trim(s, kBlanks);
}

// What reading makes of the raw text after '=': blanks dropped, then one pair of
// enclosing double quotes.
std::string_view DecodeValue(std::string_view raw)
{
    std::string_view v = TrimValue(raw);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    return v;
}

enum class LineKind { Other, Header, Key };

struct LineInfo {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // raw text after '=' (keys only)
};

LineInfo Classify(std::string_view text, bool firstLine)
{
    if (firstLine && text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    auto start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return {};
    text.remove_prefix(start);

    if (text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos)
            return {};
        return {LineKind::Header, TrimValue(text.substr(1, close - 1)), {}};
    }
    if (text.front() == ';')
        return {};
    auto eq = text.find('=');
    if (eq == std::string_view::npos)
        return {};
    std::string_view name = TrimValue(text.substr(0, eq));
    if (name.empty())
        return {};
    return {LineKind::Key, name, text.substr(eq + 1)};
}

// The text split into lines with each line's meaning, for one change.
struct Lines {
    std::string_view content;
    std::vector<LineSpan> spans;
    std::vector<LineInfo> infos;

    explicit Lines(std::string_view s) : content(s), spans(SplitLines(s))
    {
        infos.reserve(spans.size());
        for (size_t i = 0; i < spans.size(); ++i)
            infos.push_back(Classify(Text(i), i == 0));
    }

    std::string_view Text(size_t i) const
    {
        return content.substr(spans[i].Begin, spans[i].TextEnd - spans[i].Begin);
    }

    // Index of the first header named `section` at or after `from`.
    std::optional<size_t> FindHeader(std::string_view section, size_t from = 0) const
    {
        for (size_t i = from; i < infos.size(); ++i)
            if (infos[i].kind == LineKind::Header && EqualsIgnoringCase(infos[i].name, section))
                return i;
        return std::nullopt;
    }

    // One past the last line of the section whose header is at `header`.
    size_t SectionEnd(size_t header) const
    {
        size_t i = header + 1;
        while (i < infos.size() && infos[i].kind != LineKind::Header)
            ++i;
        return i;
    }

};

// The line end new lines get: that of the text's first line, LF when there is none.
std::string_view NewLineEnd(std::string_view content)
{
    auto nl = content.find('\n');
    return (nl != std::string_view::npos && nl > 0 && content[nl - 1] == '\r') ? "\r\n" : "\n";
}

std::string EncodeLine(std::string_view key, std::string_view value)
{
    std::string line(key);
    line += '=';
    if (DecodeValue(value) != value) {
        line += '"';
        line += value;
        line += '"';
    } else {
        line += value;
    }
    return line;
}

// Appends a section with the given lines at the end of `content`.
void AppendSection(std::string& content, std::string_view section, const std::vector<std::string>& keyLines)
{
    const std::string_view eol = NewLineEnd(content);
    if (!content.empty() && content.back() != '\n')
        content += eol;
    content += '[';
    content += section;
    content += ']';
    content += eol;
    for (const auto& line : keyLines) {
        content += line;
        content += eol;
    }
}

} // namespace

ProfileText::ProfileText(std::string content) : content_(std::move(content)) {}

bool ProfileText::IsStorableSection(std::string_view section)
{
    section = TrimValue(section);
    return !section.empty() && section.find_first_of(std::string_view("]\r\n\0", 4)) == std::string_view::npos;
}

bool ProfileText::IsStorableKey(std::string_view key)
{
    key = TrimValue(key);
    return !key.empty() && key.front() != '[' && key.front() != ';' &&
           key.find_first_of(std::string_view("=\r\n\0", 4)) == std::string_view::npos;
}

bool ProfileText::IsStorableValue(std::string_view value)
{
    return value.size() <= LongestValue
        && value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string ProfileText::LengthProblem(std::string_view field, std::string_view value)
{
    if (value.size() <= LongestValue)
        return {};
    return std::string(field) + " has " + std::to_string(value.size())
        + " characters; the configuration file keeps at most " + std::to_string(LongestValue) + ".";
}

void ClassifyProfileLine(std::string_view text, bool firstLine, ProfileLine& line)
{
    const LineInfo info = Classify(text, firstLine);
    line.Name = info.name;
    switch (info.kind) {
    case LineKind::Header:
        line.What = ProfileLine::Kind::Header;
        return;
    case LineKind::Key:
        line.What = ProfileLine::Kind::Key;
        line.Value = DecodeValue(info.value);
        return;
    case LineKind::Other:
        break;
    }
    if (firstLine && text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    text = TrimValue(text);
    if (text.empty())
        line.What = ProfileLine::Kind::Blank;
    else if (text.front() == ';' || text.front() == '#')
        line.What = ProfileLine::Kind::Comment;
    else
        line.What = ProfileLine::Kind::Other;
}

bool ProfileText::Read(std::string_view section, std::string_view key, std::string& value) const
{
    section = TrimValue(section);
    key = TrimValue(key);
    // A single pass without building the line table: reads are the common case.
    bool inSection = false;
    bool found = false;
    ForEachLine(content_, [&, firstLine = true](std::string_view text) mutable {
        const bool first = std::exchange(firstLine, false);
        // Outside the wanted section only headers matter; skip key parsing there.
        auto lead = text.find_first_not_of(" \t");
        const bool mayMatter = inSection || first || (lead != std::string_view::npos && text[lead] == '[');
        LineInfo info = mayMatter ? Classify(text, first) : LineInfo{};
        if (info.kind == LineKind::Header) {
            if (inSection)
                return false; // the first copy ended without the key
            inSection = EqualsIgnoringCase(info.name, section);
        } else if (inSection && info.kind == LineKind::Key && EqualsIgnoringCase(info.name, key)) {
            value.assign(DecodeValue(info.value).substr(0, MaxValueLength));
            found = true;
            return false;
        }
        return true;
    });
    return found;
}

bool ProfileText::Write(std::string_view section, std::string_view key, std::string_view value)
{
    if (!IsStorableSection(section) || !IsStorableKey(key) || !IsStorableValue(value))
        return false;
    section = TrimValue(section);
    key = TrimValue(key);
    const std::string line = EncodeLine(key, value);

    Lines lines(content_);
    auto header = lines.FindHeader(section);
    if (!header) {
        AppendSection(content_, section, {line});
        return true;
    }
    const size_t end = lines.SectionEnd(*header);
    for (size_t i = *header + 1; i < end; ++i) {
        if (lines.infos[i].kind == LineKind::Key && EqualsIgnoringCase(lines.infos[i].name, key)) {
            const LineSpan& span = lines.spans[i];
            content_.replace(span.Begin, span.TextEnd - span.Begin, line);
            return true;
        }
    }

    // After the section's last non-blank line, so that blank lines that separate it
    // from the next section stay where they are.
    size_t last = *header;
    for (size_t i = *header + 1; i < end; ++i)
        if (!TrimValue(lines.Text(i)).empty())
            last = i;
    const LineSpan& span = lines.spans[last];
    const std::string_view eol = NewLineEnd(content_);
    std::string insert;
    if (span.End == span.TextEnd) // the text's last line, without a line end
        insert = eol;
    insert += line;
    insert += eol;
    content_.insert(span.End, insert);
    return true;
}

bool ProfileText::Erase(std::string_view section)
{
    section = TrimValue(section);
    Lines lines(content_);
    std::string kept;
    size_t copyFrom = 0;
    bool erased = false;
    for (auto header = lines.FindHeader(section); header; header = lines.FindHeader(section, *header + 1)) {
        size_t end = lines.SectionEnd(*header);
        size_t from = lines.spans[*header].Begin;
        size_t to = end < lines.spans.size() ? lines.spans[end].Begin : content_.size();
        kept.append(content_, copyFrom, from - copyFrom);
        copyFrom = to;
        erased = true;
    }
    if (!erased)
        return false;
    kept.append(content_, copyFrom, std::string::npos);
    content_ = std::move(kept);
    return true;
}

bool ProfileText::Replace(std::string_view section, const KeyValues& pairs)
{
    if (!IsStorableSection(section))
        return false;
    std::vector<std::string> keyLines;
    keyLines.reserve(pairs.size());
    for (const auto& [key, value] : pairs) {
        if (!IsStorableKey(key) || !IsStorableValue(value))
            return false;
        keyLines.push_back(EncodeLine(TrimValue(key), value));
    }
    section = TrimValue(section);
    Erase(section);
    if (!keyLines.empty())
        AppendSection(content_, section, keyLines);
    return true;
}

ProfileIndex::ProfileIndex(std::string content) : content_(std::move(content))
{
    Keys* current = nullptr; // keys of the section being read; null in a later copy
    ForEachLine(content_, [&, firstLine = true](std::string_view text) mutable {
        const bool first = std::exchange(firstLine, false);
        const LineInfo info = Classify(text, first);
        if (info.kind == LineKind::Header) {
            auto [at, fresh] = sections_.try_emplace(ToLowerAscii(info.name));
            current = fresh ? &at->second : nullptr;
        } else if (info.kind == LineKind::Key && current) {
            const std::string_view v = DecodeValue(info.value);
            Span span; // an empty value may point nowhere
            if (!v.empty())
                span = {static_cast<size_t>(v.data() - content_.data()),
                        std::min(v.size(), ProfileText::MaxValueLength)};
            current->try_emplace(ToLowerAscii(info.name), span);
        }
        return true;
    });
}

bool ProfileIndex::Read(std::string_view section, std::string_view key, std::string& value) const
{
    const auto s = sections_.find(ToLowerAscii(TrimValue(section)));
    if (s == sections_.end())
        return false;
    const auto k = s->second.find(ToLowerAscii(TrimValue(key)));
    if (k == s->second.end())
        return false;
    value.assign(content_, k->second.Begin, k->second.Length);
    return true;
}
