// POSIX side of card/safe_file.h: stat before open, O_NONBLOCK so a FIFO
// swapped in never blocks, mkostemp beside the target, fsync of the file and
// of its directory around the rename.
#include "card/safe_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelkor::card {
namespace {

// Added to the output's name for its temporary sibling: "." NAME ".XXXXXX".
constexpr std::size_t kTemporaryExtra = 8;

struct SplitPath {
    std::string directory;  // never empty: "." for a bare name
    std::string name;
};

SplitPath Split(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The file a chain of symbolic links ends at (which need not exist yet).
std::string ResolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0) return path;
        target.resize(static_cast<std::size_t>(n));
        path = target.front() == '/' ? target : Split(path).directory + "/" + target;
    }
    return path;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    // Closes now; false (errno set) when the system reports a delayed write error.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// A temporary file that is removed unless it was renamed into place.
class TemporaryFile {
public:
    TemporaryFile(const std::string &output_path, const SplitPath &target) {
        path_ = target.directory + "/." + target.name + ".XXXXXX";
        fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            const int error = errno;
            path_.clear();
            throw FileAccessError(output_path, CreationFault(error), error);
        }
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return fd_; }
    const std::string &path() const { return path_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    void Kept() { path_.clear(); }

    static FileProblem CreationFault(int error) {
        switch (error) {
        case ENAMETOOLONG: return FileProblem::NameTooLong;
        case ENOENT:
        case ENOTDIR: return FileProblem::DirectoryMissing;
        case EACCES:
        case EPERM:
        case EROFS: return FileProblem::DirectoryNotWritable;
        default: return FileProblem::CannotWrite;
        }
    }

private:
    std::string path_;
    int fd_ = -1;
};

mode_t CurrentUmask() {
    // Reading it without changing it, which umask() cannot do.
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "Umask:") {
            std::string value;
            status >> value;
            return static_cast<mode_t>(std::strtoul(value.c_str(), nullptr, 8));
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

bool MayWrite(const std::string &path, const struct stat &st) {
    // Root passes access(W_OK) for everything; a file without any write bit
    // was still meant to stay as it is.
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0;
}

// Faults of an output that exists already.
void CheckExistingOutput(const std::string &output_path, const std::string &target, const struct stat &st) {
    if (S_ISDIR(st.st_mode)) throw FileAccessError(output_path, FileProblem::IsDirectory);
    if (!S_ISREG(st.st_mode)) throw FileAccessError(output_path, FileProblem::NotRegularFile);
    if (!MayWrite(target, st)) throw FileAccessError(output_path, FileProblem::ReadOnly);
}

void WriteAll(const std::string &output_path, int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t n = ::write(fd, contents.data(), contents.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw FileAccessError(output_path, FileProblem::CannotWrite, n < 0 ? errno : ENOSPC);
        contents.remove_prefix(static_cast<std::size_t>(n));
    }
}

void SyncDirectory(const std::string &directory) {
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace

std::string ReadInputFile(const std::string &path, std::uint64_t limit) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        throw FileAccessError(path, error == ENOENT ? FileProblem::NotFound : FileProblem::CannotRead, error);
    }
    if (S_ISDIR(st.st_mode)) throw FileAccessError(path, FileProblem::IsDirectory);
    if (!S_ISREG(st.st_mode)) throw FileAccessError(path, FileProblem::NotRegularFile);
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) throw FileAccessError(path, FileProblem::CannotRead, errno);
    // What was opened may not be what was looked at.
    if (::fstat(fd.get(), &st) != 0) throw FileAccessError(path, FileProblem::CannotRead, errno);
    if (!S_ISREG(st.st_mode)) throw FileAccessError(path, FileProblem::NotRegularFile);
    if (static_cast<std::uint64_t>(st.st_size) > limit) throw FileAccessError(path, FileProblem::TooLarge, 0, limit);
    std::string contents;
    try {
        contents.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::bad_alloc &) {
        throw FileAccessError(path, FileProblem::OutOfMemory);
    }
    std::size_t used = 0;
    for (;;) {
        if (used == contents.size()) {
            // The file grew since fstat: read on, within the limit.
            if (used > limit) throw FileAccessError(path, FileProblem::TooLarge, 0, limit);
            try {
                contents.resize(std::min<std::size_t>(used + 65536, static_cast<std::size_t>(limit) + 1));
            } catch (const std::bad_alloc &) {
                throw FileAccessError(path, FileProblem::OutOfMemory);
            }
        }
        const ssize_t n = ::read(fd.get(), contents.data() + used, contents.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FileAccessError(path, FileProblem::CannotRead, errno);
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    if (used > limit) throw FileAccessError(path, FileProblem::TooLarge, 0, limit);
    contents.resize(used);
    return contents;
}

bool OutputExists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void CheckOutputFile(const std::string &path) {
    const std::string target = ResolveLinks(path);
    const SplitPath parts = Split(target);
    if (parts.name.empty() || parts.name == "." || parts.name == "..")
        throw FileAccessError(path, FileProblem::IsDirectory);
    struct stat dir {};
    if (::stat(parts.directory.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
        throw FileAccessError(path, FileProblem::DirectoryMissing);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) CheckExistingOutput(path, target, st);
    long name_max = ::pathconf(parts.directory.c_str(), _PC_NAME_MAX);
    if (name_max <= 0) name_max = NAME_MAX;
    if (parts.name.size() + kTemporaryExtra > static_cast<std::size_t>(name_max))
        throw FileAccessError(path, FileProblem::NameTooLong);
    if (::access(parts.directory.c_str(), W_OK | X_OK) != 0)
        throw FileAccessError(path, FileProblem::DirectoryNotWritable, errno);
    // The real thing, once: what the checks above cannot foresee (a
    // read-only mount seen by root, a full inode table) shows here.
    TemporaryFile probe(path, parts);
}

void ReplaceFileContents(const std::string &path, std::string_view contents) {
    const std::string target = ResolveLinks(path);
    const SplitPath parts = Split(target);
    struct stat st {};
    const bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed) CheckExistingOutput(path, target, st);
    TemporaryFile temporary(path, parts);
    if (existed) {
        // Owner first: changing it may clear set-id bits that fchmod then restores.
        [[maybe_unused]] const int ignored = ::fchown(temporary.fd(), st.st_uid, st.st_gid);
        ::fchmod(temporary.fd(), st.st_mode & 07777);
    } else {
        ::fchmod(temporary.fd(), 0666 & ~CurrentUmask());
    }
    WriteAll(path, temporary.fd(), contents);
    if (::fsync(temporary.fd()) != 0) throw FileAccessError(path, FileProblem::CannotWrite, errno);
    if (!temporary.Close()) throw FileAccessError(path, FileProblem::CannotWrite, errno);
    if (::rename(temporary.path().c_str(), target.c_str()) != 0)
        throw FileAccessError(path, FileProblem::CannotReplace, errno);
    temporary.Kept();
    SyncDirectory(parts.directory);
}

std::string SaveFallbackFile(const std::string &path, std::string_view contents) {
    const char *tmp = std::getenv("TMPDIR");
    const std::string directory = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    std::string name = Split(path).name;
    std::string extension;
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        extension = name.substr(dot);
        name.resize(dot);
    }
    if (name.size() > 100) name.resize(100);
    std::string fallback = directory + "/zelkor-" + name + "-XXXXXX" + extension;
    Descriptor fd(::mkostemps(fallback.data(), static_cast<int>(extension.size()), O_CLOEXEC));
    if (fd.get() < 0) throw FileAccessError(fallback, FileProblem::CannotWrite, errno);
    try {
        WriteAll(fallback, fd.get(), contents);  // mkostemps made it 0600: keys stay private
        if (::fsync(fd.get()) != 0 || !fd.Close()) throw FileAccessError(fallback, FileProblem::CannotWrite, errno);
    } catch (...) {
        ::unlink(fallback.c_str());
        throw;
    }
    return fallback;
}

}  // namespace zelkor::card
