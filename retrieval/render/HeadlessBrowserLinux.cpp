// The headless browser on Linux: fork and exec into a process group of its own, as an
// unprivileged user when this program runs as root, with a fresh profile folder that goes
// afterwards; its document read from a pipe with a cap and a deadline, the whole group killed
// when either is passed.
#include "retrieval/render/PageRenderer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace retrieval {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kBrowserNames[] = {"chromium-headless-shell", "chromium"};
constexpr std::chrono::milliseconds kProbeLimit{20'000};
constexpr std::chrono::milliseconds kPoll{20};

// One browser at a time in the whole program: each takes a few hundred MiB and a core.
std::timed_mutex& RenderLock() {
    static std::timed_mutex lock;
    return lock;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<Account> UnprivilegedAccount() {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r("nobody", &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    return Account{found->pw_name, found->pw_uid, found->pw_gid};
}

// The user-data folder of one start: private, owned by the user the browser runs as, removed with
// everything the browser left in it.
class ProfileFolder {
public:
    explicit ProfileFolder(const std::optional<Account>& owner) {
        // The user the browser becomes may not enter this user's TMPDIR.
        const char* tmp = std::getenv("TMPDIR");
        const std::string base = owner || tmp == nullptr || *tmp == '\0' ? "/tmp" : tmp;
        std::string pattern = base + "/quandrel-browser-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        path_ = pattern;
        if (owner && ::chown(path_.c_str(), owner->uid, owner->gid) != 0)
            remove();
    }
    ~ProfileFolder() { remove(); }
    ProfileFolder(const ProfileFolder&) = delete;
    ProfileFolder& operator=(const ProfileFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    void remove() {
        if (path_.empty())
            return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        path_.clear();
    }
    std::string path_;
};

struct Run {
    enum class How { Exited, TimedOut, TooLarge, Stopped, NotStarted } how = How::NotStarted;
    int status = 0; // waitpid's, for Exited
    std::string out;
};

// The child between fork and exec: only async-signal-safe calls, and raw system calls for the
// identity, which the one thread left here must change for itself.
[[noreturn]] void BecomeBrowser(const char* program, char* const* argv, char* const* envp, int devNull,
                                int out, const Account* user, const char* folder) {
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &defaults, nullptr);
    if (::dup2(devNull, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(devNull, 2) < 0)
        ::_exit(127);
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
        for (int fd = 3; fd < 4096; ++fd)
            ::close(fd);
    if (user != nullptr) {
        if (::syscall(SYS_setgroups, 0, nullptr) != 0 ||
            ::syscall(SYS_setresgid, user->gid, user->gid, user->gid) != 0 ||
            ::syscall(SYS_setresuid, user->uid, user->uid, user->uid) != 0 || ::geteuid() == 0 ||
            ::getegid() == 0)
            ::_exit(127);
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL); // after the identity change, which would clear it
    if (::chdir(folder) != 0)
        ::_exit(127);
    ::execve(program, argv, envp);
    ::_exit(127);
}

// Ends the whole group while its leader is still unreaped, so that its number cannot have been
// given to another group meanwhile; then reaps the leader.
int EndGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

Run RunBrowser(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
               const std::optional<Account>& user, Clock::time_point deadline,
               const std::atomic<bool>* stop) {
    Run run;
    std::vector<std::string> env = {
        "PATH=/usr/local/bin:/usr/bin:/bin",   "HOME=" + folder,   "XDG_CONFIG_HOME=" + folder + "/config",
        "XDG_CACHE_HOME=" + folder + "/cache", "TMPDIR=" + folder, "LANG=C.UTF-8"};
    std::string name = program;
    std::vector<char*> argv{name.data()};
    std::vector<std::string> argsCopy = args;
    for (std::string& a : argsCopy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return run;
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return run;
    }
    const pid_t pid = ::fork();
    if (pid == 0)
        BecomeBrowser(program.c_str(), argv.data(), envp.data(), devNull, pipeFds[1], user ? &*user : nullptr,
                      folder.c_str());
    ::close(pipeFds[1]);
    ::close(devNull);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return run;
    }
    // A group of its own before anything is signalled (the child sets it too; whichever comes first).
    ::setpgid(pid, pid);
    const int fd = pipeFds[0];
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    run.how = Run::How::Exited;
    char buffer[65536];
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            run.how = Run::How::Stopped;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            run.how = Run::How::TimedOut;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min(left, kPoll).count()) + 1);
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break; // the browser is done with its output
        if (run.out.size() + static_cast<std::size_t>(n) > kMaxDomBytes) {
            run.how = Run::How::TooLarge;
            break;
        }
        run.out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (run.how != Run::How::Exited) {
        EndGroup(pid);
        run.out.clear();
        return run;
    }
    // Output closed: the browser is ending; it gets until the deadline to do so.
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid)
            break;
        if (Clock::now() >= deadline || (stop != nullptr && stop->load(std::memory_order_relaxed))) {
            run.how = stop != nullptr && stop->load() ? Run::How::Stopped : Run::How::TimedOut;
            EndGroup(pid);
            run.out.clear();
            return run;
        }
        std::this_thread::sleep_for(5ms);
    }
    run.status = EndGroup(pid); // what it left running goes with it
    return run;
}

class HeadlessBrowserLinux final : public PageRenderer {
public:
    explicit HeadlessBrowserLinux(std::string program) : program_(std::move(program)) {}

    bool available() const override { return IsExecutableFile(program_); }

    Rendered render(const RenderRequest& request, const std::atomic<bool>* stop) override {
        std::unique_lock lock(RenderLock(), std::defer_lock);
        while (!lock.try_lock_for(kPoll))
            if (stop != nullptr && stop->load())
                return {RenderEnd::Stopped, {}, {}};
        const BrowserUser user = ChooseBrowserUser(::geteuid(), UnprivilegedAccount());
        if (!user.refused.empty())
            return {RenderEnd::Unavailable, {}, user.refused};
        if (!probed_) {
            sandbox_ = probe(user.switchTo, stop);
            if (stop != nullptr && stop->load())
                return {RenderEnd::Stopped, {}, {}};
            probed_ = true;
        }
        if (sandbox_ == Sandbox::None)
            return {RenderEnd::Unavailable, {}, "der Browser startet nicht"};
        return once(request, user.switchTo, sandbox_ == Sandbox::Own, stop);
    }

    std::string describe() override {
        std::string where = "Browser: " + program_;
        if (!available())
            return where + " (nicht ausführbar)";
        const BrowserUser user = ChooseBrowserUser(::geteuid(), UnprivilegedAccount());
        if (!user.refused.empty())
            return where + " (startet nicht: " + user.refused + ")";
        {
            const std::lock_guard lock(RenderLock());
            if (!probed_) {
                sandbox_ = probe(user.switchTo, nullptr);
                probed_ = true;
            }
        }
        const std::string as = user.switchTo ? ", als Benutzer " + user.switchTo->name : "";
        switch (sandbox_) {
        case Sandbox::Own:
            return where + " (mit eigener Sandbox" + as + ")";
        case Sandbox::Off:
            return where + " (ohne eigene Sandbox, die das System nicht zulässt" + as + ")";
        case Sandbox::None:
            break;
        }
        return where + " (startet nicht)";
    }

private:
    enum class Sandbox { Own, Off, None };

    Rendered once(const RenderRequest& request, const std::optional<Account>& user, bool ownSandbox,
                  const std::atomic<bool>* stop) {
        const auto deadline = Clock::now() + request.limit;
        ProfileFolder folder(user);
        if (folder.path().empty())
            return {RenderEnd::Unavailable, {}, "kein Profilordner für den Browser"};
        const ProxyArguments args = BrowserArguments(
            {folder.path(), request.url, request.proxy, request.limit, ownSandbox, request.userAgent});
        if (!args.refused.empty())
            return {RenderEnd::Unavailable, {}, args.refused};
        Run run = RunBrowser(program_, args.arguments, folder.path(), user, deadline, stop);
        switch (run.how) {
        case Run::How::NotStarted:
            return {RenderEnd::Unavailable, {}, "der Browser startet nicht"};
        case Run::How::TimedOut:
            return {RenderEnd::TimedOut, {}, {}};
        case Run::How::TooLarge:
            return {RenderEnd::TooLarge, {}, {}};
        case Run::How::Stopped:
            return {RenderEnd::Stopped, {}, {}};
        case Run::How::Exited:
            break;
        }
        const bool exited = WIFEXITED(run.status);
        const int code = exited ? WEXITSTATUS(run.status) : -1;
        // 0: loaded; 2: its own time limit, the document as far as it got; 1: the load failed.
        if (code == 0 && !run.out.empty())
            return {RenderEnd::Complete, std::move(run.out), {}};
        if (code == 2 && !run.out.empty())
            return {RenderEnd::Partial, std::move(run.out), {}};
        if (code == 1)
            return {RenderEnd::LoadFailed, {}, {}};
        if (code == 127)
            return {RenderEnd::Unavailable, {}, "der Browser startet nicht"};
        return {RenderEnd::Crashed, {}, {}};
    }

    // Whether the browser starts with its own sandbox, or only without it (a kernel or container
    // that allows no user namespaces), or not at all.
    Sandbox probe(const std::optional<Account>& user, const std::atomic<bool>* stop) {
        for (const bool own : {true, false}) {
            const Rendered blank = once({"about:blank", {}, kProbeLimit}, user, own, stop);
            if (blank.end == RenderEnd::Complete && blank.dom.find("<html") != std::string::npos)
                return own ? Sandbox::Own : Sandbox::Off;
            if (blank.end == RenderEnd::Stopped)
                return Sandbox::None;
        }
        return Sandbox::None;
    }

    std::string program_;
    bool probed_ = false; // under RenderLock()
    Sandbox sandbox_ = Sandbox::None;
};

} // namespace

std::string FindBrowser(const char* pathVariable) {
    std::vector<std::string> folders;
    std::string_view path = pathVariable != nullptr ? pathVariable : "";
    while (!path.empty()) {
        const std::size_t colon = std::min(path.find(':'), path.size());
        if (colon > 0 && path.front() == '/')
            folders.emplace_back(path.substr(0, colon));
        path.remove_prefix(std::min(colon + 1, path.size()));
    }
    folders.emplace_back("/usr/bin");
    for (const char* name : kBrowserNames)
        for (const std::string& folder : folders)
            if (const std::string candidate = folder + "/" + name; IsExecutableFile(candidate))
                return candidate;
    return {};
}

std::unique_ptr<PageRenderer> MakeHeadlessBrowser(std::string program) {
    if (program.empty())
        return nullptr;
    return std::make_unique<HeadlessBrowserLinux>(std::move(program));
}

std::unique_ptr<PageRenderer> FindHeadlessBrowser() {
    return MakeHeadlessBrowser(FindBrowser(std::getenv("PATH")));
}

std::string BrowserLine() {
    const std::unique_ptr<PageRenderer> browser = FindHeadlessBrowser();
    if (!browser)
        return "Browser: keiner gefunden (chromium-headless-shell oder chromium); Seiten mit JavaScript "
               "werden "
               "nicht im Browser nachgeprüft";
    return browser->describe();
}

} // namespace retrieval
