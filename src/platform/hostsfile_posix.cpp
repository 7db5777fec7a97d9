#include "platform/hostsfile.h"

#include "core/errors.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace bramblet::platform {

namespace fs = std::filesystem;

fs::path hostsPath() { return "/etc/hosts"; }

hosts::HostsStyle hostsStyle() { return hosts::HostsStyle{"\n", true, true}; }

namespace {

[[noreturn]] void fail(const char *what, const fs::path &path, int error)
{
    throw CodedError(std::string(what) + " " + path.string() + ": " + std::system_category().message(error), error);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    // Closing can report a late write error; it is checked for files we wrote.
    int close()
    {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

void writeAll(int fd, std::string_view content, const fs::path &path)
{
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Cannot write", path, errno);
        }
        done += static_cast<std::size_t>(n);
    }
}

void syncFd(int fd, const fs::path &path)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            fail("Cannot flush", path, errno);
    }
}

class PosixHostsFileOps : public hosts::HostsFileOps {
public:
    bool exists(const fs::path &path) override
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            return true;
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        fail("Cannot look at", path, errno);
    }

    std::string read(const fs::path &path) override
    {
        Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0)
            fail("Cannot open", path, errno);
        std::string out;
        char buffer[8192];
        while (true) {
            const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail("Cannot read", path, errno);
            }
            if (n == 0)
                break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

    void writeTemp(const fs::path &path, std::string_view content, const fs::path &like) override
    {
        // A temp file left by a killed run is stale: the file it was meant to become is
        // either intact or already renamed.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            fail("Cannot delete", path, errno);
        Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0)
            fail("Cannot create", path, errno);
        try {
            writeAll(fd.get(), content, path);
            struct stat st {};
            mode_t mode = 0644;
            if (!like.empty() && ::stat(like.c_str(), &st) == 0) {
                mode = st.st_mode & 07777;
                // Keeps the owner and group; a user who may not give files away keeps the
                // file as its own, which the mode still makes readable to everyone.
                if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0 && errno != EPERM)
                    fail("Cannot set the owner of", path, errno);
            }
            // A hosts file that only its owner can read breaks the name lookups of every
            // other user, the game's among them.
            if (::fchmod(fd.get(), mode) != 0)
                fail("Cannot set the mode of", path, errno);
            syncFd(fd.get(), path);
            if (fd.close() != 0)
                fail("Cannot write", path, errno);
        } catch (...) {
            ::unlink(path.c_str());
            throw;
        }
    }

    RenameOutcome rename(const fs::path &from, const fs::path &to) override
    {
        if (::rename(from.c_str(), to.c_str()) == 0)
            return RenameOutcome::Done;
        // A bind-mounted file (as in a network namespace) refuses with EBUSY, or EXDEV when
        // it comes from another file system.
        if (errno == EBUSY || errno == EXDEV)
            return RenameOutcome::Refused;
        fail("Cannot rename to", to, errno);
    }

    void rewriteInPlace(const fs::path &path, std::string_view content) override
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            fail("Cannot look at", path, errno);
        // A file without write permission for its owner is still replaced; its mode comes
        // back afterwards.
        const mode_t mode = st.st_mode & 07777;
        const bool lent = (mode & S_IWUSR) == 0;
        if (lent && ::chmod(path.c_str(), mode | S_IWUSR) != 0)
            fail("Cannot make writable", path, errno);
        try {
            Descriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
            if (fd.get() < 0)
                fail("Cannot open", path, errno);
            // Written over the old bytes and cut afterwards, so the file is never empty.
            writeAll(fd.get(), content, path);
            if (::ftruncate(fd.get(), static_cast<off_t>(content.size())) != 0)
                fail("Cannot write", path, errno);
            syncFd(fd.get(), path);
            if (fd.close() != 0)
                fail("Cannot write", path, errno);
        } catch (...) {
            if (lent)
                ::chmod(path.c_str(), mode);
            throw;
        }
        if (lent && ::chmod(path.c_str(), mode) != 0)
            fail("Cannot set the mode of", path, errno);
    }

    void remove(const fs::path &path) override
    {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            fail("Cannot delete", path, errno);
    }

    fs::path resolveLinks(const fs::path &path) override
    {
        fs::path p = path;
        // As many links as the system itself follows before it gives up with ELOOP.
        for (int hops = 0; hops < 40; ++hops) {
            char target[4096];
            const ssize_t n = ::readlink(p.c_str(), target, sizeof target);
            if (n < 0) {
                if (errno == EINVAL || errno == ENOENT || errno == ENOTDIR)
                    return p;
                fail("Cannot look at", p, errno);
            }
            if (static_cast<std::size_t>(n) == sizeof target)
                fail("Cannot follow the link", p, ENAMETOOLONG);
            const fs::path next(std::string(target, static_cast<std::size_t>(n)));
            p = next.is_absolute() ? next : p.parent_path() / next;
        }
        fail("Cannot follow the link", path, ELOOP);
    }

    void syncFolder(const fs::path &path) override
    {
        fs::path folder = path.parent_path();
        if (folder.empty())
            folder = ".";
        Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0)
            fail("Cannot open the folder", folder, errno);
        // Some file systems cannot flush a folder and say so with EINVAL; there is nothing
        // more to do on those.
        while (::fsync(fd.get()) != 0) {
            if (errno == EINVAL)
                return;
            if (errno != EINTR)
                fail("Cannot flush the folder", folder, errno);
        }
    }
};

} // namespace

hosts::HostsFileOps &hostsFileOps()
{
    static PosixHostsFileOps ops;
    return ops;
}

} // namespace bramblet::platform
