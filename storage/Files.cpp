#include "storage/Files.h"

#include "app/contract/Error.h"
#include "text/SystemReason.h"
#include "text/Utf8.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {

std::string ReadFailure(const std::string& path, const std::string& reason) {
    return "Datei konnte nicht gelesen werden: " + path + " (" + reason + ")";
}

std::string WriteFailure(const std::string& path, const std::string& reason) {
    std::string shown = path; // a NUL would cut the message short where it is shown
    for (char& c : shown)
        if (c == '\0')
            c = '?';
    return "Datei konnte nicht geschrieben werden: " + shown + " (" + reason + ")";
}

// Closes the descriptor and removes the temporary file unless the rename has taken it over.
class TempFile {
public:
    TempFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Returns the errno of a failed close, 0 on success.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }
    void keep() { path_.clear(); }

private:
    int fd_;
    std::string path_;
};

// The file a chain of symbolic links at `path` ends in, which need not exist; `path` itself when
// it is no link. A relative target counts from the folder of the link that names it.
std::string FollowLinks(const std::string& path) {
    constexpr int kMaxHops = 40; // as the kernel allows
    std::string current = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        if (hops == kMaxHops)
            throw toolkit::Error(WriteFailure(path, text::SystemReason(ELOOP)));
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t got;
        while ((got = ::readlink(current.c_str(), target.data(), target.size())) ==
               static_cast<ssize_t>(target.size()))
            target.resize(target.size() * 2); // the link grew since lstat
        if (got <= 0)
            throw toolkit::Error(WriteFailure(path, text::SystemReason(got < 0 ? errno : ENOENT)));
        target.resize(static_cast<std::size_t>(got));
        if (target[0] != '/') {
            const std::size_t slash = current.rfind('/');
            if (slash != std::string::npos)
                target.insert(0, current, 0, slash + 1);
        }
        current = std::move(target);
    }
}

} // namespace

std::string ProgramPath(const std::string& programFolder, std::string_view literal) {
    std::string rest(literal);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    if (programFolder.empty() || programFolder.back() == '/') {
        const std::size_t first = rest.find_first_not_of('/');
        rest.erase(0, first == std::string::npos ? rest.size() : first);
    }
    return programFolder + rest;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeMissingDirectories(const std::string& path) {
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        const std::string level = path.substr(0, pos);
        if (!DirectoryExists(level))
            ::mkdir(level.c_str(), 0755);
    }
    if (!path.empty() && path.back() != '/' && !DirectoryExists(path))
        ::mkdir(path.c_str(), 0755);
    return DirectoryExists(path);
}

std::string ReadFileBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw toolkit::Error(ReadFailure(path, text::SystemReason(errno)));
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            throw toolkit::Error(ReadFailure(path, text::SystemReason(err)));
        }
        if (got == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

std::vector<std::string> SplitFileLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        std::size_t end = lf;
        if (end > start && text[end - 1] == '\r')
            --end;
        lines.emplace_back(text.substr(start, end - start));
        start = lf + 1;
    }
    return lines;
}

std::vector<std::string> DecodeFileLines(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    std::vector<std::string> lines = SplitFileLines(bytes);
    for (std::string& line : lines)
        if (!text::IsValidUtf8(line))
            line = text::Windows1252ToUtf8(line);
    return lines;
}

std::vector<std::string> ReadFileLines(const std::string& path) {
    return DecodeFileLines(ReadFileBytes(path));
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void WriteFileAtomic(const std::string& path, std::string_view data, mode_t mode) {
    WriteFileAtomic(path, {data}, mode);
}

void WriteFileAtomic(const std::string& path, std::initializer_list<std::string_view> pieces, mode_t mode) {
    if (path.empty() || path.find('\0') != std::string::npos || path.back() == '/')
        throw toolkit::Error(WriteFailure(path, "Ungültiger Dateiname"));

    // A link stays a link: the file it ends in is replaced, beside itself, and keeps its mode.
    const std::string target = FollowLinks(path);
    if (target != path) {
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            mode = st.st_mode & 07777;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // Shortened so that a name near the length limit still leaves room for the suffix.
    std::string pattern = dir + "." + name.substr(0, 200) + ".XXXXXX";

    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw toolkit::Error(WriteFailure(path, text::SystemReason(errno)));
    TempFile temp(fd, pattern);

    if (::fchmod(temp.fd(), mode) != 0)
        throw toolkit::Error(WriteFailure(path, text::SystemReason(errno)));

    for (const std::string_view data : pieces) {
        const char* p = data.data();
        std::size_t left = data.size();
        while (left > 0) {
            const ssize_t put = ::write(temp.fd(), p, left);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                throw toolkit::Error(WriteFailure(path, text::SystemReason(errno)));
            }
            p += put;
            left -= static_cast<std::size_t>(put);
        }
    }
    if (::fsync(temp.fd()) != 0)
        throw toolkit::Error(WriteFailure(path, text::SystemReason(errno)));
    if (const int err = temp.close(); err != 0)
        throw toolkit::Error(WriteFailure(path, text::SystemReason(err)));
    if (::rename(temp.path().c_str(), target.c_str()) != 0)
        throw toolkit::Error(WriteFailure(path, text::SystemReason(errno)));
    temp.keep();

    // Makes the rename itself durable; the file is in place either way, so a failure here is moot.
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace storage
