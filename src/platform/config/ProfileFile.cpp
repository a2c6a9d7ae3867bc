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

ProfileFile::Loaded ProfileFile::Load() const
{
    Loaded loaded;
    std::string content;
    if (ReadWholeFile(path_, content) == FileReadResult::Failed)
        loaded.Why = Failure::OfCall("read");
    else
        loaded.Text = ProfileText(std::move(content));
    return loaded;
}

Failure ProfileFile::Store(const ProfileText& before, const ProfileText& after)
{
    if (after.Content() == before.Content())
        return {}; // already on disk as wanted
    return ReplaceFileAtomically(path_, after.Content());
}

namespace {

// A change ProfileText refused: a name or value that cannot be kept in a line whole.
Failure Unstorable()
{
    return Failure::Said("a name or value holds a line break or a NUL, a name is empty, or a value is longer than "
                         + std::to_string(ProfileText::LongestValue) + " characters");
}

} // namespace

bool ProfileFile::ReadString(std::string_view section, std::string_view key, std::string& value) const
{
    Loaded loaded = Load();
    return !loaded.Why && loaded.Text.Read(section, key, value);
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

Failure ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    Loaded loaded = Load();
    if (loaded.Why)
        return loaded.Why;
    ProfileText changed = loaded.Text;
    if (!changed.Write(section, key, value))
        return Unstorable();
    return Store(loaded.Text, changed);
}

Failure ProfileFile::WriteInt(std::string_view section, std::string_view key, int32_t value)
{
    return WriteString(section, key, std::to_string(value));
}

Failure ProfileFile::EraseSection(std::string_view section)
{
    Loaded loaded = Load();
    if (loaded.Why)
        return loaded.Why;
    ProfileText changed = loaded.Text;
    changed.Erase(section);
    return Store(loaded.Text, changed);
}

Failure ProfileFile::ReplaceSection(std::string_view section, const KeyValues& pairs)
{
    Loaded loaded = Load();
    if (loaded.Why)
        return loaded.Why;
    ProfileText changed = loaded.Text;
    if (!changed.Replace(section, pairs))
        return Unstorable();
    return Store(loaded.Text, changed);
}
