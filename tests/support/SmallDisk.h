#pragma once
// A tmpfs of a few pages on a folder of the test's own, to fill and free: what a full
// disk does. Mounting needs CAP_SYS_ADMIN (the tests run as root); where it is
// refused, Mounted() is false and the test skips.
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qlntest {

class SmallDisk {
public:
    static constexpr size_t Page = 4096;
    SmallDisk(std::string folder, size_t pages) : Folder(std::move(folder))
    {
        ::mkdir(Folder.c_str(), 0700);
        Ok = ::mount("tmpfs", Folder.c_str(), "tmpfs", 0, ("size=" + std::to_string(pages * Page)).c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (Ok)
            ::umount2(Folder.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return Ok; }
    std::string File(const std::string& name) const { return Folder + "/" + name; }
    // Takes every free page but `leave` with a file of its own; Free gives them back.
    void Fill(size_t leave = 0)
    {
        const int fd = ::open(File(".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        static const char page[Page] = {};
        while (fd >= 0 && ::write(fd, page, Page) == static_cast<ssize_t>(Page)) {
        }
        struct stat st {};
        const size_t taken = fd >= 0 && ::fstat(fd, &st) == 0 ? static_cast<size_t>(st.st_size) / Page * Page : 0;
        (void)!::ftruncate(fd, static_cast<off_t>(taken > leave * Page ? taken - leave * Page : 0));
        ::close(fd);
    }
    void Free() { ::unlink(File(".filler").c_str()); }

    const std::string Folder;

private:
    bool Ok = false;
};

} // namespace qlntest
