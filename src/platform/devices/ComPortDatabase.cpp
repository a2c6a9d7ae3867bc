#include "platform/devices/ComPortDatabase.h"
#include "platform/base/Text.h"

#include "platform/config/AtomicFile.h"
#include "platform/devices/DeviceRecord.h"
#include "platform/base/Folders.h"

std::unique_ptr<ComPortDatabase> ComPortDatabase::Open(const std::string& stateFolder)
{
    if (!MakeFolders(stateFolder, PrivateFolderMode))
        return nullptr;
    return std::unique_ptr<ComPortDatabase>(new ComPortDatabase(stateFolder + "/comdb"));
}

ComPortDatabase::ComPortDatabase(std::string filePath) : FilePath(std::move(filePath))
{
}

bool ComPortDatabase::Load(bool (&used)[PortCount + 1])
{
    for (bool& u : used)
        u = false;
    std::string text;
    FileReadResult result = ReadWholeFile(FilePath, text, 1 << 20);
    if (result == FileReadResult::Missing)
        return true;
    if (result != FileReadResult::Ok)
        return false;
    ForEachLine(text, [&](std::string_view view) {
        const std::string line(view);
        if (line.size() < 4 || line.compare(0, 3, "COM") != 0)
            return; // comments and anything foreign
        int number = PortNumberOf(line);
        if (number >= 1 && number <= static_cast<int>(PortCount)
            && line == "COM" + std::to_string(number))
            used[number] = true;
    });
    return true;
}

bool ComPortDatabase::Save(const bool (&used)[PortCount + 1])
{
    std::string text = "; COM numbers claimed by Quillon Console ports\n";
    for (uint32_t n = 1; n <= PortCount; ++n) {
        if (used[n])
            text += "COM" + std::to_string(n) + "\n";
    }
    return !ReplaceFileAtomically(FilePath, text).Failed();
}

long ComPortDatabase::GetCurrentPortUsage(uint8_t* buffer, uint32_t size, uint32_t* count)
{
    constexpr long ErrorInvalidParameter = 87;
    constexpr long ErrorAccessDenied = 5;
    if (!count)
        return ErrorInvalidParameter;
    if (size == 0 || !buffer) {
        *count = PortCount;
        return 0;
    }
    bool used[PortCount + 1];
    if (!Load(used))
        return ErrorAccessDenied;
    uint32_t filled = size < PortCount ? size : PortCount;
    for (uint32_t i = 0; i < filled; ++i)
        buffer[i] = used[i + 1] ? 1 : 0;
    *count = filled;
    return 0;
}

bool ComPortDatabase::ClaimPort(int number, bool force)
{
    if (number < 1 || number > static_cast<int>(PortCount))
        return false;
    bool used[PortCount + 1];
    if (!Load(used))
        return false;
    if (used[number])
        return force;
    used[number] = true;
    return Save(used);
}

bool ComPortDatabase::ReleasePort(int number)
{
    if (number < 1 || number > static_cast<int>(PortCount))
        return false;
    bool used[PortCount + 1];
    if (!Load(used))
        return false;
    if (!used[number])
        return true;
    used[number] = false;
    return Save(used);
}

bool ComPortDatabase::IsInUse(int number)
{
    if (number < 1 || number > static_cast<int>(PortCount))
        return false;
    bool used[PortCount + 1];
    return Load(used) && used[number];
}

int ComPortDatabase::LowestFree()
{
    bool used[PortCount + 1];
    if (!Load(used))
        return 0;
    for (uint32_t n = 1; n <= PortCount; ++n) {
        if (!used[n])
            return static_cast<int>(n);
    }
    return 0;
}
