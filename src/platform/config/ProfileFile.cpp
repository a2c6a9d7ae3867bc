#include "platform/config/ProfileFile.h"

#include "platform/config/AtomicFile.h"
#include "platform/config/WholeNumber.h"

namespace {

// GetString and GetInt of the file and of its snapshot, on their ReadString.
template <class Source>
std::string StringOr(const Source& source, std::string_view section, std::string_view key, std::string_view fallback)
{
    std::string value;
    return source.ReadString(section, key, value) ? value : std::string(fallback);
}

template <class Source>
int32_t IntOr(const Source& source, std::string_view section, std::string_view key, int32_t fallback)
{
    std::string value;
    return source.ReadString(section, key, value) ? ReadWholeNumber(value, fallback) : fallback;
}

} // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

bool ProfileFile::Load(ProfileText& text, Failure* why) const
{
    std::string content;
    FileReadResult r = ReadWholeFile(path_, content);
    if (r == FileReadResult::Failed) {
        if (why)
            *why = Failure::OfCall("read");
        return false;
    }
    text = ProfileText(std::move(content));
    return true;
}

bool ProfileFile::Store(const ProfileText& before, const ProfileText& after, Failure* why)
{
    if (after.Content() == before.Content())
        return true; // already on disk as wanted
    Failure failure;
    if (ReplaceFileAtomically(path_, after.Content(), failure))
        return true;
    if (why)
        *why = failure;
    return false;
}

namespace {

// A change ProfileText refused: a name or value that cannot be kept in a line whole.
bool Unstorable(Failure* why)
{
    if (why)
        *why = Failure::Said("a name or value holds a line break or a NUL, a name is empty, or a value is longer than "
                             + std::to_string(ProfileText::LongestValue) + " characters");
    return false;
}

} // namespace

bool ProfileFile::ReadString(std::string_view section, std::string_view key, std::string& value) const
{
    ProfileText text;
    return Load(text, nullptr) && text.Read(section, key, value);
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key, std::string_view fallback) const
{
    return StringOr(*this, section, key, fallback);
}

int32_t ProfileFile::GetInt(std::string_view section, std::string_view key, int32_t fallback) const
{
    return IntOr(*this, section, key, fallback);
}

ProfileFile::Snapshot ProfileFile::TakeSnapshot() const
{
    std::string content;
    if (ReadWholeFile(path_, content) != FileReadResult::Ok)
        content.clear();
    return Snapshot(std::move(content));
}

bool ProfileFile::Snapshot::ReadString(std::string_view section, std::string_view key, std::string& value) const
{
    return index_.Read(section, key, value);
}

std::string ProfileFile::Snapshot::GetString(std::string_view section, std::string_view key,
                                             std::string_view fallback) const
{
    return StringOr(*this, section, key, fallback);
}

int32_t ProfileFile::Snapshot::GetInt(std::string_view section, std::string_view key, int32_t fallback) const
{
    return IntOr(*this, section, key, fallback);
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value,
                              Failure* why)
{
    ProfileText text;
    if (!Load(text, why))
        return false;
    ProfileText changed = text;
    if (!changed.Write(section, key, value))
        return Unstorable(why);
    return Store(text, changed, why);
}

bool ProfileFile::WriteInt(std::string_view section, std::string_view key, int32_t value, Failure* why)
{
    return WriteString(section, key, std::to_string(value), why);
}

bool ProfileFile::EraseSection(std::string_view section, Failure* why)
{
    ProfileText text;
    if (!Load(text, why))
        return false;
    ProfileText changed = text;
    changed.Erase(section);
    return Store(text, changed, why);
}

bool ProfileFile::ReplaceSection(std::string_view section, const KeyValues& pairs, Failure* why)
{
    ProfileText text;
    if (!Load(text, why))
        return false;
    ProfileText changed = text;
    if (!changed.Replace(section, pairs))
        return Unstorable(why);
    return Store(text, changed, why);
}
