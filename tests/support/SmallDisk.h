#pragma once
// A small filesystem for what happens when the disk is full: a tmpfs of a few pages
// mounted on a folder of the test's own, which the test fills and frees. Mounting
// needs CAP_SYS_ADMIN (the tests run as root); where it is refused, Mounted() is
// false and the test says so and skips.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qlntest {

class SmallDisk {
public:
    static constexpr size_t Page = 4096;

    // `pages` pages at `folder` (made when missing).
    SmallDisk(std::string folder, size_t pages) : Folder(std::move(folder))
    {
        ::mkdir(Folder.c_str(), 0700);
        const std::string options = "size=" + std::to_string(pages * Page) + ",mode=0700";
        IsMounted = ::mount("tmpfs", Folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (IsMounted)
            ::umount2(Folder.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return IsMounted; }
    std::string File(const std::string& name) const { return Folder + "/" + name; }

    // Takes every free page but `leavePages` with a file of its own.
    void Fill(size_t leavePages = 0)
    {
        const int fd = ::open(File(".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        const std::vector<char> zeros(Page, 0);
        while (::write(fd, zeros.data(), zeros.size()) > 0) {
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
            const off_t size = (st.st_size / static_cast<off_t>(Page)) * static_cast<off_t>(Page);
            const off_t left = size - static_cast<off_t>(leavePages * Page);
            (void)!::ftruncate(fd, left > 0 ? left : 0);
        }
        ::close(fd);
    }
    // Gives every page the filler took back.
    void Free() { ::unlink(File(".filler").c_str()); }

    const std::string Folder;

private:
    bool IsMounted = false;
};

} // namespace qlntest
