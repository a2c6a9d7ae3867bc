// A bounded random-mutation fuzz loop over the profile rules: random, damaged texts
// are read, written, erased and replaced, and after each change the reads of every
// other name and the untouched lines of the text are checked. Deterministic (fixed
// seed); stops after kIterations or kTimeBudget, whichever comes first, but never
// before kMinIterations, so that a slow (sanitizer) build still tests. Every 40th
// case also goes through ProfileFile on disk and must give the same bytes.
#include "platform/config/ProfileFile.h"
#include "platform/config/ProfileText.h"

#include "support/Files.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <random>

namespace {

using namespace qlntest;
using namespace std::string_literals;

constexpr int kIterations = 20000;
constexpr int kMinIterations = 500;
constexpr auto kTimeBudget = std::chrono::seconds(3);

const std::string kSeeds[] = {
    "[General]\nMinimizeWhenRun=1\n[COM3]\nSendToNetDelayTime=0\nReceiveFromNetDelayTime=20\n"
    "LogFilename=/tmp/com3.txt\nLogMode=1\nNetCount=2\nNet1Type=1\nNet1RemoteAddr=127.0.0.1\n",
    "[A]\r\nK=1\r\nL = \" two \" \r\n\r\n[b]\r\nk=3\r\n[a]\r\nK=4",
    ";comment\nK=0\n[ A ]tail\n\tk\t=\t5\n[]\nM=6\n[B\nN=7\n",
    "\xEF\xBB\xBF[a]\nk=\"\"\n\x01\x02\0\xff\n[COM3]\nnetcount=0x10\n"s,
    "",
};
const char* const kTokens[] = {"[", "]", "=", "\n", "\r\n", "\r", "\"", ";", " ", "\t", "\xEF\xBB\xBF",
                               "[A]", "[a]", "[ b ]", "[COM3]", "\nK=", "\nk = v\n", "\n[]\n", "=\"x\""};
const std::string kSections[] = {"A", "a", " b ", "B", "COM3", "General", "New"};
const std::string kKeys[] = {"K", "k", "L", "M", "NetCount", "Fresh"};

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    auto first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The lines of a text with their line ends; the last may have none.
std::vector<std::string> SplitKeepingEnds(const std::string& s)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < s.size()) {
        size_t nl = s.find('\n', pos);
        size_t end = nl == std::string::npos ? s.size() : nl + 1;
        lines.push_back(s.substr(pos, end - pos));
        pos = end;
    }
    return lines;
}

// A line without its line end and trailing CRs: a text that ends in a lone '\r'
// turns it into a CRLF when a line is appended, which changes no meaning.
std::string WithoutEnd(std::string line)
{
    if (line.ends_with('\n'))
        line.pop_back();
    while (line.ends_with('\r'))
        line.pop_back();
    return line;
}

// Name of the section a header line opens, or nullopt for any other line.
std::optional<std::string> HeaderName(std::string line, bool first)
{
    line = WithoutEnd(line);
    if (first && line.starts_with("\xEF\xBB\xBF"))
        line.erase(0, 3);
    auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] != '[')
        return std::nullopt;
    auto close = line.find(']', start);
    if (close == std::string::npos)
        return std::nullopt;
    std::string name = line.substr(start + 1, close - start - 1);
    auto a = name.find_first_not_of(" \t\r\v\f");
    if (a == std::string::npos)
        return "";
    return Lower(name.substr(a, name.find_last_not_of(" \t\r\v\f") - a + 1));
}

// The text without any copy of `section`.
std::string WithoutSection(const std::string& text, const std::string& section)
{
    std::string kept;
    bool dropping = false;
    auto lines = SplitKeepingEnds(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto name = HeaderName(lines[i], i == 0))
            dropping = *name == Lower(section);
        if (!dropping)
            kept += lines[i];
    }
    return kept;
}

using Reads = std::map<std::pair<std::string, std::string>, std::optional<std::string>>;

// Every read of the text; the index over the same text must answer each alike.
Reads ReadAll(const ProfileText& text)
{
    Reads reads;
    const ProfileIndex index(text.Content());
    for (const auto& s : kSections)
        for (const auto& k : kKeys) {
            std::string v;
            const auto read = text.Read(s, k, v) ? std::optional(v) : std::nullopt;
            std::string indexed;
            EXPECT_EQ(index.Read(s, k, indexed) ? std::optional(indexed) : std::nullopt, read)
                << "[" << s << "] " << k << " in " << ::testing::PrintToString(text.Content());
            reads[{Lower(s), Lower(k)}] = read;
        }
    return reads;
}

class Fuzzer {
public:
    std::mt19937 rng{20240611};

    size_t Below(size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : 0; }
    bool OneIn(size_t n) { return Below(n) == 0; }

    std::string RandomBytes(size_t n, bool storable)
    {
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            char c = static_cast<char>(Below(256));
            if (storable && (c == '\n' || c == '\r' || c == '\0'))
                c = '_';
            s += c;
        }
        return s;
    }

    std::string Mutate(std::string s)
    {
        for (size_t round = 1 + Below(8); round > 0; --round) {
            size_t at = Below(s.size() + 1);
            switch (Below(6)) {
            case 0: if (!s.empty()) s[Below(s.size())] = static_cast<char>(Below(256)); break;
            case 1: s.insert(at, kTokens[Below(std::size(kTokens))]); break;
            case 2: s.insert(at, RandomBytes(1 + Below(8), false)); break;
            case 3: if (!s.empty()) s.erase(at, Below(16)); break;
            case 4: if (at < s.size()) s.insert(Below(s.size() + 1), s.substr(at, Below(64))); break;
            case 5: if (OneIn(20)) s.insert(at, std::string(3000 + Below(5000), 'x')); break;
            }
        }
        if (s.size() > 64 * 1024)
            s.resize(64 * 1024);
        return s;
    }

    std::string Value()
    {
        switch (Below(7)) {
        case 0: return "";
        case 1: return " spaced ";
        case 2: return "\"q\"";
        case 3: return "a=b;c";
        case 4: return RandomBytes(Below(3000), true);
        case 5: return "line\nbreak"; // must be refused
        default: return std::to_string(static_cast<int>(Below(100000)) - 50000);
        }
    }

    const std::string& Section() { return kSections[Below(std::size(kSections))]; }
    const std::string& Key() { return kKeys[Below(std::size(kKeys))]; }
};

// Checks that `after` differs from `before` only by the written key's line (replaced
// or inserted), a new header, and a line end added to a last line.
void ExpectOnlyTheKeyLineChanged(const std::string& before, const std::string& after)
{
    auto a = SplitKeepingEnds(before), b = SplitKeepingEnds(after);
    size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && WithoutEnd(a[prefix]) == WithoutEnd(b[prefix]))
        ++prefix;
    size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    EXPECT_LE(a.size() - prefix - suffix, 1u) << "more than one old line changed";
    EXPECT_LE(b.size() - prefix - suffix, 2u) << "more than a header and a key added\n"
                                              << ::testing::PrintToString(before) << "\n"
                                              << ::testing::PrintToString(after);
    for (size_t i = 0; i + 1 < prefix; ++i)
        EXPECT_EQ(a[i], b[i]) << "a line end changed";
}

TEST(ProfileFuzz, RandomTextsKeepTheProfileInvariants)
{
    Fuzzer fz;
    TempFolder dir;
    ProfileFile file(dir.File("fuzz.ini"));
    const auto deadline = std::chrono::steady_clock::now() + kTimeBudget;
    int iterations = 0;
    for (; iterations < kIterations && (iterations < kMinIterations || std::chrono::steady_clock::now() < deadline);
         ++iterations) {
        const std::string before = fz.Mutate(kSeeds[fz.Below(std::size(kSeeds))]);
        ProfileText text(before);
        const Reads readsBefore = ReadAll(text);
        const std::string section = fz.Section();
        const bool onDisk = iterations % 40 == 0;
        if (onDisk)
            WriteFileText(file.Path(), before);

        bool ok = false;
        std::string key;
        std::string value;
        ProfileText::KeyValues pairs;
        const size_t op = fz.Below(3);
        if (op == 0) {
            key = fz.Key();
            value = fz.Value();
            ok = text.Write(section, key, value);
            ASSERT_EQ(ok, ProfileText::IsStorableValue(value));
            if (onDisk) {
                ASSERT_EQ(!file.WriteString(section, key, value).Failed(), ok);
            }
        } else if (op == 1) {
            text.Erase(section);
            ok = true;
            if (onDisk) {
                ASSERT_EQ(file.EraseSection(section).Text(), "");
            }
        } else {
            for (size_t n = fz.Below(5); n > 0; --n)
                pairs.emplace_back(fz.Key(), fz.Value());
            ok = text.Replace(section, pairs);
            if (onDisk) {
                ASSERT_EQ(!file.ReplaceSection(section, pairs).Failed(), ok);
            }
        }
        if (onDisk) {
            ASSERT_EQ(FileText(file.Path()), text.Content()) << "file and text rules disagree";
        }
        if (!ok) {
            ASSERT_EQ(text.Content(), before) << "a refused change altered the text";
            continue;
        }

        // Reads of every other section (and of other keys when one key was written)
        // are unchanged.
        const Reads readsAfter = ReadAll(text);
        for (const auto& [name, was] : readsBefore) {
            const bool touched = name.first == Lower(section) && (op != 0 || name.second == Lower(key));
            if (!touched) {
                ASSERT_EQ(readsAfter.at(name), was) << "[" << name.first << "] " << name.second;
            }
        }

        std::string got;
        if (op == 0) {
            ASSERT_TRUE(text.Read(section, key, got));
            ASSERT_EQ(got, value.substr(0, ProfileText::MaxValueLength));
            ExpectOnlyTheKeyLineChanged(before, text.Content());
        } else {
            // Erase and replace keep every line outside the section, byte for byte.
            const std::string rest = WithoutSection(before, section);
            ASSERT_TRUE(text.Content().starts_with(rest)) << "lines of other sections were lost";
            if (op == 1) {
                ASSERT_EQ(text.Content(), rest);
                for (const auto& k : kKeys)
                    ASSERT_FALSE(text.Read(section, k, got));
            } else {
                for (const auto& [k, v] : pairs) {
                    // The first pair of a key is the one read back.
                    auto first = std::find_if(pairs.begin(), pairs.end(),
                                              [&](const auto& p) { return Lower(p.first) == Lower(k); });
                    ASSERT_TRUE(text.Read(section, k, got));
                    ASSERT_EQ(got, first->second.substr(0, ProfileText::MaxValueLength));
                }
            }
        }
    }
    RecordProperty("iterations", iterations);
}

} // namespace
