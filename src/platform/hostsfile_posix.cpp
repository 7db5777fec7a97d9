#include "platform/hostsfile.h"

#include "core/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>
#include <vector>

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

// The SELinux label, the POSIX ACL and every other extended attribute of `from`, onto `to`,
// as package managers do when they replace a file. A file system without them has none.
void copyAttributes(int from, int to, const fs::path &path)
{
    std::vector<char> names(4096);
    ssize_t n = ::flistxattr(from, names.data(), names.size());
    if (n < 0 && errno == ERANGE) {
        names.resize(65536);
        n = ::flistxattr(from, names.data(), names.size());
    }
    if (n < 0) {
        if (errno == ENOTSUP)
            return;
        fail("Cannot read the extended attributes for", path, errno);
    }
    std::vector<char> value(65536);
    for (const char *name = names.data(); name < names.data() + n; name += std::strlen(name) + 1) {
        const ssize_t size = ::fgetxattr(from, name, value.data(), value.size());
        if (size < 0) {
            if (errno == ENOTSUP || errno == ENODATA)
                continue;
            fail("Cannot read the extended attributes for", path, errno);
        }
        if (::fsetxattr(to, name, value.data(), std::size_t(size), 0) != 0 && errno != ENOTSUP)
            fail((std::string("Cannot set the attribute ") + name + " of").c_str(), path, errno);
    }
}

// Whether root may rely on this entry: owned by root and writable by nobody else, except a
// root-owned folder with the sticky bit (/tmp), where others cannot replace root's entries.
bool rootOnly(const struct stat &st)
{
    if (st.st_uid != 0)
        return false;
    if (S_ISLNK(st.st_mode))
        return true; // a link's own mode means nothing
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    return S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
}

} // namespace

fs::path followTrusted(const fs::path &path)
{
    std::vector<std::string> todo;
    fs::path start = path;
    if (start.is_relative()) {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr)
            fail("Cannot look at", ".", errno);
        start = fs::path(cwd) / path;
    }
    for (const fs::path &part : start.relative_path())
        todo.push_back(part.string());
    fs::path done = "/";
    struct stat st {};
    if (::lstat("/", &st) != 0 || !rootOnly(st))
        throw Error("/ is not root's alone");
    int hops = 0;
    while (!todo.empty()) {
        const std::string name = todo.front();
        todo.erase(todo.begin());
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            done = done.parent_path();
            continue;
        }
        const fs::path next = done / name;
        if (::lstat(next.c_str(), &st) != 0) {
            if (errno == ENOENT && todo.empty())
                return next; // made there later, by root, in a folder checked above
            fail("Cannot look at", next, errno);
        }
        if (!rootOnly(st))
            throw CodedError(next.string() + " is not owned by root alone (another user owns it or may write it), "
                                             "so root does not rely on it",
                             EPERM);
        if (!S_ISLNK(st.st_mode)) {
            done = next;
            continue;
        }
        if (++hops > 40)
            fail("Cannot follow the link", path, ELOOP);
        char target[4096];
        const ssize_t n = ::readlink(next.c_str(), target, sizeof target);
        if (n < 0)
            fail("Cannot look at", next, errno);
        if (static_cast<std::size_t>(n) == sizeof target)
            fail("Cannot follow the link", next, ENAMETOOLONG);
        const fs::path link(std::string(target, static_cast<std::size_t>(n)));
        if (link.is_absolute())
            done = "/";
        std::vector<std::string> parts;
        for (const fs::path &part : link.relative_path())
            parts.push_back(part.string());
        todo.insert(todo.begin(), parts.begin(), parts.end());
    }
    return done;
}

namespace {

class PosixHostsFileOps : public hosts::HostsFileOps {
public:
    bool exists(const fs::path &path) override
    {
        struct stat st {};
        const At at = where(path);
        if (::fstatat(at.dir, at.name.c_str(), &st, 0) == 0)
            return true;
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        fail("Cannot look at", path, errno);
    }

    std::string read(const fs::path &path) override
    {
        const At at = where(path);
        Descriptor fd(::openat(at.dir, at.name.c_str(), O_RDONLY | O_CLOEXEC));
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
        const At at = where(path);
        if (::unlinkat(at.dir, at.name.c_str(), 0) != 0 && errno != ENOENT)
            fail("Cannot delete", path, errno);
        Descriptor fd(::openat(at.dir, at.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0)
            fail("Cannot create", path, errno);
        try {
            writeAll(fd.get(), content, path);
            struct stat st {};
            mode_t mode = 0644;
            const At likeAt = where(like);
            if (!like.empty() && ::fstatat(likeAt.dir, likeAt.name.c_str(), &st, 0) == 0) {
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
            if (!like.empty()) {
                Descriptor original(::openat(likeAt.dir, likeAt.name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
                if (original.get() >= 0)
                    copyAttributes(original.get(), fd.get(), path);
            }
            syncFd(fd.get(), path);
            if (fd.close() != 0)
                fail("Cannot write", path, errno);
        } catch (...) {
            ::unlinkat(at.dir, at.name.c_str(), 0);
            throw;
        }
    }

    RenameOutcome rename(const fs::path &from, const fs::path &to) override
    {
        const At source = where(from);
        const At target = where(to);
        if (::renameat(source.dir, source.name.c_str(), target.dir, target.name.c_str()) == 0)
            return RenameOutcome::Done;
        // A bind-mounted file (as in a network namespace) refuses with EBUSY, or EXDEV when
        // it comes from another file system.
        if (errno == EBUSY || errno == EXDEV)
            return RenameOutcome::Refused;
        fail("Cannot rename to", to, errno);
    }

    PlaceOutcome placeNew(const fs::path &from, const fs::path &to) override
    {
        const At source = where(from);
        const At target = where(to);
        if (::renameat2(source.dir, source.name.c_str(), target.dir, target.name.c_str(), RENAME_NOREPLACE) == 0)
            return PlaceOutcome::Done;
        if (errno == EEXIST)
            return PlaceOutcome::Occupied;
        if (errno != EINVAL && errno != ENOSYS)
            fail("Cannot rename to", to, errno);
        // A file system without the flag: a new name is made only where none is.
        if (::linkat(source.dir, source.name.c_str(), target.dir, target.name.c_str(), 0) != 0) {
            if (errno == EEXIST)
                return PlaceOutcome::Occupied;
            fail("Cannot rename to", to, errno);
        }
        if (::unlinkat(source.dir, source.name.c_str(), 0) != 0)
            fail("Cannot delete", from, errno);
        return PlaceOutcome::Done;
    }

    std::string identity(const fs::path &path) override
    {
        struct stat st {};
        const At at = where(path);
        if (::fstatat(at.dir, at.name.c_str(), &st, 0) != 0)
            fail("Cannot look at", path, errno);
        char text[128];
        std::snprintf(text, sizeof text, "%llx:%llx:%lld:%lld.%09ld", static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
                      static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
        return text;
    }

    void checkReplaceable(const fs::path &path) override
    {
        fs::path folder = path.parent_path();
        if (folder.empty())
            folder = ".";
        struct statvfs vfs {};
        const At at = where(path);
        if ((at.dir != AT_FDCWD ? ::fstatvfs(at.dir, &vfs) : ::statvfs(folder.c_str(), &vfs)) != 0)
            fail("Cannot look at", folder, errno);
        if ((vfs.f_flag & ST_RDONLY) != 0)
            fail("Cannot change", path, EROFS);
        Descriptor fd(::openat(at.dir, at.name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (fd.get() < 0) {
            if (errno == ENOENT)
                return;
            fail("Cannot open", path, errno);
        }
        int flags = 0;
        // Not every file system keeps these flags; those that do not cannot set them either.
        if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0)
            throw CodedError(path.string() + " is marked immutable or append-only (chattr +i or +a) and cannot be "
                                             "replaced; remove the mark with chattr -i -a first",
                             EPERM);
    }

    void rewriteInPlace(const fs::path &path, std::string_view content) override
    {
        struct stat st {};
        const At at = where(path);
        if (::fstatat(at.dir, at.name.c_str(), &st, 0) != 0)
            fail("Cannot look at", path, errno);
        // A file without write permission for its owner is still replaced; its mode comes
        // back afterwards.
        const mode_t mode = st.st_mode & 07777;
        const bool lent = (mode & S_IWUSR) == 0;
        if (lent && ::fchmodat(at.dir, at.name.c_str(), mode | S_IWUSR, 0) != 0)
            fail("Cannot make writable", path, errno);
        try {
            Descriptor fd(::openat(at.dir, at.name.c_str(), O_WRONLY | O_CLOEXEC));
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
                ::fchmodat(at.dir, at.name.c_str(), mode, 0);
            throw;
        }
        if (lent && ::fchmodat(at.dir, at.name.c_str(), mode, 0) != 0)
            fail("Cannot set the mode of", path, errno);
    }

    void remove(const fs::path &path) override
    {
        const At at = where(path);
        if (::unlinkat(at.dir, at.name.c_str(), 0) != 0 && errno != ENOENT)
            fail("Cannot delete", path, errno);
    }

    fs::path resolveLinks(const fs::path &path) override
    {
        if (path == linkPath_)
            return resolved_;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        // Resolved once, through root's own folders only, and the folder it leads to is held
        // open: later renames there go to that folder whatever happens to the names above it.
        const fs::path target = followTrusted(path);
        const int fd = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            fail("Cannot open the folder", target.parent_path(), errno);
        if (folderFd_ >= 0)
            ::close(folderFd_);
        folderFd_ = fd;
        linkPath_ = path;
        resolved_ = target;
        return resolved_;
    }

    void syncFolder(const fs::path &path) override
    {
        fs::path folder = path.parent_path();
        if (folder.empty())
            folder = ".";
        const At at = where(path);
        Descriptor fd(at.dir != AT_FDCWD ? ::dup(at.dir) : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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

private:
    // A path of the resolved hosts file's folder is taken relative to the folder held open.
    struct At {
        int dir;
        std::string name;
    };
    At where(const fs::path &path) const
    {
        if (folderFd_ >= 0 && path.parent_path() == resolved_.parent_path())
            return {folderFd_, path.filename().string()};
        return {AT_FDCWD, path.string()};
    }

    fs::path linkPath_;
    fs::path resolved_;
    int folderFd_ = -1;
};

} // namespace

hosts::HostsFileOps &hostsFileOps()
{
    static PosixHostsFileOps ops;
    return ops;
}

} // namespace bramblet::platform
