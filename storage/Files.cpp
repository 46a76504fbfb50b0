#include "storage/Files.h"

#include "app/contract/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
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
            throw toolkit::Error(WriteFailure(path, SystemReason(ELOOP)));
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t got;
        while ((got = ::readlink(current.c_str(), target.data(), target.size())) ==
               static_cast<ssize_t>(target.size()))
            target.resize(target.size() * 2); // the link grew since lstat
        if (got <= 0)
            throw toolkit::Error(WriteFailure(path, SystemReason(got < 0 ? errno : ENOENT)));
        target.resize(static_cast<std::size_t>(got));
        if (target[0] != '/') {
            const std::size_t slash = current.rfind('/');
            if (slash != std::string::npos)
                target.insert(0, current, 0, slash + 1);
        }
        current = std::move(target);
    }
}

void AppendUtf8(std::string& out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

} // namespace

std::string SystemReason(int errorNumber) {
    switch (errorNumber) {
    case ENOENT:
        return "Datei oder Verzeichnis nicht gefunden";
    case EACCES:
        return "Zugriff verweigert";
    case EPERM:
        return "Vorgang nicht zulässig";
    case EISDIR:
        return "Ist ein Verzeichnis";
    case ENOTDIR:
        return "Ein Teil des Pfades ist kein Verzeichnis";
    case ENOSPC:
        return "Kein Speicherplatz mehr auf dem Gerät";
    case EDQUOT:
        return "Speicherkontingent überschritten";
    case EROFS:
        return "Dateisystem ist schreibgeschützt";
    case EFBIG:
        return "Datei ist zu groß";
    case ENAMETOOLONG:
        return "Dateiname ist zu lang";
    case EIO:
        return "Ein-/Ausgabefehler";
    case EMFILE:
    case ENFILE:
        return "Zu viele offene Dateien";
    case EBUSY:
        return "Gerät oder Ressource belegt";
    case ELOOP:
        return "Zu viele Ebenen symbolischer Verknüpfungen";
    case EINVAL:
        return "Ungültiges Argument";
    default:
        return "Systemfehler " + std::to_string(errorNumber) + ": " + std::strerror(errorNumber);
    }
}

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

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0)
                lo = 0xA0; // no overlong forms
            else if (b == 0xED)
                hi = 0x9F; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F; // nothing above U+10FFFF
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        if (second < lo || second > hi)
            return false;
        for (std::size_t k = 2; k < len; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (c < 0x80 || c > 0xBF)
                return false;
        }
        i += len;
    }
    return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    iconv_t cd = ::iconv_open("UTF-8", "WINDOWS-1252");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw toolkit::Error("Zeichensatz Windows-1252 ist nicht verfügbar (" + SystemReason(errno) + ")");

    std::string out;
    out.reserve(bytes.size() * 2);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (err == EILSEQ || err == EINVAL) {
            // The five bytes the code page leaves undefined; Windows reads them as the C1 controls.
            AppendUtf8(out, static_cast<unsigned char>(*in));
            ++in;
            --inLeft;
        } else if (err != E2BIG) {
            ::iconv_close(cd);
            throw toolkit::Error("Text konnte nicht umgewandelt werden (" + SystemReason(err) + ")");
        }
    }
    ::iconv_close(cd);
    return out;
}

std::string ReadFileBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw toolkit::Error(ReadFailure(path, SystemReason(errno)));
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            throw toolkit::Error(ReadFailure(path, SystemReason(err)));
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
        if (!IsValidUtf8(line))
            line = Windows1252ToUtf8(line);
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
        throw toolkit::Error(WriteFailure(path, SystemReason(errno)));
    TempFile temp(fd, pattern);

    if (::fchmod(temp.fd(), mode) != 0)
        throw toolkit::Error(WriteFailure(path, SystemReason(errno)));

    for (const std::string_view data : pieces) {
        const char* p = data.data();
        std::size_t left = data.size();
        while (left > 0) {
            const ssize_t put = ::write(temp.fd(), p, left);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                throw toolkit::Error(WriteFailure(path, SystemReason(errno)));
            }
            p += put;
            left -= static_cast<std::size_t>(put);
        }
    }
    if (::fsync(temp.fd()) != 0)
        throw toolkit::Error(WriteFailure(path, SystemReason(errno)));
    if (const int err = temp.close(); err != 0)
        throw toolkit::Error(WriteFailure(path, SystemReason(err)));
    if (::rename(temp.path().c_str(), target.c_str()) != 0)
        throw toolkit::Error(WriteFailure(path, SystemReason(errno)));
    temp.keep();

    // Makes the rename itself durable; the file is in place either way, so a failure here is moot.
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace storage
