#pragma once
#include <cstdint>
#include <memory>
#include <string>

// The database of COM numbers in use: 256 numbers, COM1 first. Only the device
// store's own claims count; serial ports of the machine itself are not in it.
//
// Kept in the file "comdb" of the state folder, one claimed number per line ("COM5"),
// lines starting with ';' are comments, other lines are skipped. Each operation reads
// the file afresh and each change replaces it atomically, so several open databases
// (the add-port dialog's and the port manager's) never overwrite each other's claims.
//
// Window thread only (it is not locked against itself).
class ComPortDatabase {
public:
    static constexpr uint32_t PortCount = 256;

    // Opens the database of the state folder `stateFolder` (created when missing).
    // Null when the folder cannot be had: the database is not available.
    static std::unique_ptr<ComPortDatabase> Open(const std::string& stateFolder);

    // With `size` 0 (buffer ignored) stores PortCount in `count`; otherwise fills
    // min(size, PortCount) bytes, one per number from COM1, 1 in use and 0 free, and
    // stores that count. 0 on success; any other value is a failure (the file cannot
    // be read, or `count` is null).
    long GetCurrentPortUsage(uint8_t* buffer, uint32_t size, uint32_t* count);

    // Claims `number` (1 to PortCount). A number in use is claimed again only with
    // `force`; then it is in use as before. False when the number is out of range,
    // in use without `force`, or the file cannot be read or replaced.
    bool ClaimPort(int number, bool force);
    // Marks `number` free. Releasing a free number succeeds. False when out of range
    // or the file cannot be read or replaced.
    bool ReleasePort(int number);
    // True when `number` is claimed; false also when the file cannot be read.
    bool IsInUse(int number);
    // The lowest free number, or 0 when all are in use or the file cannot be read.
    int LowestFree();

private:
    explicit ComPortDatabase(std::string filePath);
    bool Load(bool (&used)[PortCount + 1]);
    bool Save(const bool (&used)[PortCount + 1]);

    std::string FilePath;
};
