// Windows side of card/safe_file.h: attributes looked at before opening,
// CREATE_NEW for the temporary file beside the target (never through a
// link), FlushFileBuffers, then MoveFileExW with write-through.
#include "card/safe_file.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

#include <windows.h>

namespace zelkor::card {
namespace {

namespace fs = std::filesystem;

// Added to the output's name for its temporary sibling: "." NAME ".XXXXXXXX".
constexpr std::size_t kTemporaryExtra = 10;
constexpr std::size_t kNameMax = 255;

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) ::CloseHandle(handle_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool Close() {
        const HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(h) != 0;
    }

private:
    HANDLE handle_;
};

fs::path ResolveLinks(fs::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) return path;
        fs::path target = fs::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

fs::path DirectoryOf(const fs::path &path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

FileProblem CreationFault(DWORD error) {
    switch (error) {
    case ERROR_FILENAME_EXCED_RANGE: return FileProblem::NameTooLong;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: return FileProblem::DirectoryMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return FileProblem::DirectoryNotWritable;
    default: return FileProblem::CannotWrite;
    }
}

// A temporary file that is removed unless it was moved into place.
class TemporaryFile {
public:
    TemporaryFile(const std::string &output_path, const fs::path &target, DWORD attributes) {
        static std::atomic<unsigned> counter{0};
        DWORD error = ERROR_FILE_EXISTS;
        for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
            wchar_t suffix[16];
            const unsigned unique = ::GetCurrentProcessId() * 2654435761u ^ ::GetTickCount() ^ (counter++ << 20);
            ::swprintf(suffix, 16, L".%08x", unique);
            path_ = DirectoryOf(target) / (L"." + target.filename().wstring() + suffix);
            handle_ = ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
            error = handle_ == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        }
        if (handle_ == INVALID_HANDLE_VALUE) {
            path_.clear();
            throw FileAccessError(output_path, CreationFault(error), static_cast<int>(error));
        }
    }
    ~TemporaryFile() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
        if (!path_.empty()) ::DeleteFileW(path_.c_str());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    HANDLE handle() const { return handle_; }
    const fs::path &path() const { return path_; }
    bool Close() {
        const HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(h) != 0;
    }
    void Kept() { path_.clear(); }

private:
    fs::path path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Attributes of an existing output, after its faults were ruled out;
// INVALID_FILE_ATTRIBUTES when there is none.
DWORD CheckExistingOutput(const std::string &output_path, const fs::path &target) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return attributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw FileAccessError(output_path, FileProblem::IsDirectory);
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) throw FileAccessError(output_path, FileProblem::NotRegularFile);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) throw FileAccessError(output_path, FileProblem::ReadOnly);
    return attributes;
}

void WriteAll(const std::string &output_path, HANDLE handle, std::string_view contents) {
    while (!contents.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size(), 1u << 20));
        DWORD written = 0;
        if (::WriteFile(handle, contents.data(), chunk, &written, nullptr) == 0 || written == 0)
            throw FileAccessError(output_path, FileProblem::CannotWrite, static_cast<int>(::GetLastError()));
        contents.remove_prefix(written);
    }
}

}  // namespace

std::string ReadInputFile(const std::string &path, std::uint64_t limit) {
    const fs::path file(path);
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        throw FileAccessError(path, missing ? FileProblem::NotFound : FileProblem::CannotRead, static_cast<int>(error));
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw FileAccessError(path, FileProblem::IsDirectory);
    Handle handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) throw FileAccessError(path, FileProblem::CannotRead, static_cast<int>(::GetLastError()));
    if (::GetFileType(handle.get()) != FILE_TYPE_DISK) throw FileAccessError(path, FileProblem::NotRegularFile);
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(handle.get(), &size) == 0)
        throw FileAccessError(path, FileProblem::CannotRead, static_cast<int>(::GetLastError()));
    if (static_cast<std::uint64_t>(size.QuadPart) > limit) throw FileAccessError(path, FileProblem::TooLarge, 0, limit);
    std::string contents;
    try {
        contents.resize(static_cast<std::size_t>(limit) + 1);
    } catch (const std::bad_alloc &) {
        throw FileAccessError(path, FileProblem::OutOfMemory);
    }
    std::size_t used = 0;
    for (;;) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(contents.size() - used, 1u << 20));
        if (want == 0) break;
        if (::ReadFile(handle.get(), contents.data() + used, want, &got, nullptr) == 0)
            throw FileAccessError(path, FileProblem::CannotRead, static_cast<int>(::GetLastError()));
        if (got == 0) break;
        used += got;
    }
    if (used > limit) throw FileAccessError(path, FileProblem::TooLarge, 0, limit);
    contents.resize(used);
    contents.shrink_to_fit();
    return contents;
}

bool OutputExists(const std::string &path) {
    return ::GetFileAttributesW(fs::path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CheckOutputFile(const std::string &path) {
    const fs::path target = ResolveLinks(fs::path(path));
    const std::wstring name = target.filename().wstring();
    if (name.empty() || name == L"." || name == L"..") throw FileAccessError(path, FileProblem::IsDirectory);
    const DWORD directory = ::GetFileAttributesW(DirectoryOf(target).c_str());
    if (directory == INVALID_FILE_ATTRIBUTES || (directory & FILE_ATTRIBUTE_DIRECTORY) == 0)
        throw FileAccessError(path, FileProblem::DirectoryMissing);
    CheckExistingOutput(path, target);
    if (name.size() + kTemporaryExtra > kNameMax) throw FileAccessError(path, FileProblem::NameTooLong);
    TemporaryFile probe(path, target, FILE_ATTRIBUTE_NORMAL);
}

void ReplaceFileContents(const std::string &path, std::string_view contents) {
    const fs::path target = ResolveLinks(fs::path(path));
    const DWORD existing = CheckExistingOutput(path, target);
    // The replaced file's attributes (hidden, ...) carry over; its security
    // comes from the directory, as for any file the user saves there.
    const DWORD attributes = existing == INVALID_FILE_ATTRIBUTES
                                 ? FILE_ATTRIBUTE_NORMAL
                                 : (existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    TemporaryFile temporary(path, target, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
    WriteAll(path, temporary.handle(), contents);
    if (::FlushFileBuffers(temporary.handle()) == 0 || !temporary.Close())
        throw FileAccessError(path, FileProblem::CannotWrite, static_cast<int>(::GetLastError()));
    if (::MoveFileExW(temporary.path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0)
        throw FileAccessError(path, FileProblem::CannotReplace, static_cast<int>(::GetLastError()));
    temporary.Kept();
}

std::string SaveFallbackFile(const std::string &path, std::string_view contents) {
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, directory);
    const fs::path base = length > 0 ? fs::path(directory) : fs::path(".");
    const fs::path original(path);
    std::wstring stem = original.stem().wstring();
    if (stem.size() > 100) stem.resize(100);
    const fs::path target = base / (L"zelkor-" + stem + original.extension().wstring());
    TemporaryFile file(path, target, FILE_ATTRIBUTE_NORMAL);
    WriteAll(path, file.handle(), contents);
    if (::FlushFileBuffers(file.handle()) == 0 || !file.Close())
        throw FileAccessError(path, FileProblem::CannotWrite, static_cast<int>(::GetLastError()));
    const std::string saved = file.path().string();
    file.Kept();
    return saved;
}

}  // namespace zelkor::card
