// The link check's worker process: its answers are validated, and a page that makes it crash,
// spin, allocate without end or reach for a file costs that page's links only. This program is
// its own worker; the hook below, which only test programs have, lets a page ask for each fault.
#include "retrieval/CrossCheck.h"
#include "retrieval/Parsing.h"
#include "retrieval/sandbox/LinkWorker.h"
#include "retrieval/sandbox/VerdictCodec.h"
#include "tests/storage/StorageTestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace storage_test;
namespace wire = retrieval::wire;
using retrieval::LinkScan;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

void MisbehaveOnRequest(std::string& page) {
    if (page.starts_with("<!--crash-->")) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    if (page.starts_with("<!--spin-->"))
        for (volatile unsigned long i = 0;;)
            i = i + 1;
    if (page.starts_with("<!--hog-->")) {
        std::vector<std::unique_ptr<char[]>> blocks;
        for (;;) {
            blocks.emplace_back(new char[16 << 20]);
            static_cast<volatile char*>(blocks.back().get())[0] = 1;
        }
    }
    if (page.starts_with("<!--lie-->")) { // more links kept than there are
        retrieval::LinkVerdict v;
        v.links.resize(3);
        const std::string frame = wire::MakeFrame(wire::Kind::Verdict, wire::EncodeVerdict(v));
        if (write(retrieval::kWorkerFd, frame.data(), frame.size()) < 0)
            return;
    }
    // What code that took over the parser would try without the filter: the path or port follows
    // the marker; success leaves a trace the test looks for.
    const auto argument = [&page](std::string_view marker) {
        const std::size_t end = page.find("-->");
        return std::string(page.substr(marker.size(), end - marker.size()));
    };
    if (page.starts_with("<!--unlink:"))
        unlink(argument("<!--unlink:").c_str());
    if (page.starts_with("<!--rename:"))
        rename(argument("<!--rename:").c_str(), (argument("<!--rename:") + ".weg").c_str());
    if (page.starts_with("<!--truncate:"))
        close(open(argument("<!--truncate:").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (page.starts_with("<!--create:"))
        close(open(argument("<!--create:").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    if (page.starts_with("<!--exec:")) {
        const std::string command = "echo x > " + argument("<!--exec:");
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    }
    if (page.starts_with("<!--connect:")) {
        const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(argument("<!--connect:"))));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        close(s);
    }
    if (page.starts_with("<!--passwd-->")) {
        const int fd = open("/etc/passwd", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) { // what was read would show as the anchor of a link
            char buffer[512];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            page += "<a href='http://shop.example/'>" +
                    std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0) + "</a>";
        }
    }
}

std::string Frame(std::uint8_t version, std::uint8_t kind, const std::string& payload) {
    std::string frame = wire::MakeFrame(wire::Kind::Verdict, payload).substr(wire::kHeaderBytes);
    frame[0] = static_cast<char>(version);
    frame[1] = static_cast<char>(kind);
    return frame;
}

} // namespace

int main(int argc, char** argv) {
    // The worker is this program: a test that wants it without the filter says so in its environment.
    const bool refuseFilter = std::getenv("QH_TEST_REFUSE_FILTER") != nullptr;
    if (const auto worker = retrieval::RunLinkWorkerIfAsked(argc, argv, MisbehaveOnRequest, refuseFilter))
        return *worker;
    retrieval::DefaultWorkerLimits().wallClock = std::chrono::milliseconds(1500);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(VerdictCodec, AnswersOutsideTheLimitsOrBadlyFramedAreRefused) {
    retrieval::LinkVerdict v;
    v.linkCount = 2;
    v.followCount = 1;
    v.examined = 4;
    v.links.resize(1);
    v.links[0].target = "http://shop.example/";
    v.links[0].anchor = "Shop";
    v.title = "Seite nicht gefunden";
    v.heading = "Oops";
    v.canonical = "https://blog.example/kanonisch";
    v.scripts = 3;
    const std::string good = wire::EncodeVerdict(v);
    const auto back = wire::DecodeVerdict(good, {});
    ASSERT_TRUE(back);
    EXPECT_EQ(wire::EncodeVerdict(*back), good);
    EXPECT_EQ(back->title + "|" + back->heading + "|" + back->canonical,
              "Seite nicht gefunden|Oops|https://blog.example/kanonisch");
    retrieval::LinkVerdict unread;
    unread.scan = LinkScan::TooSlow;
    unread.title = "aus dem Nichts";
    retrieval::LinkVerdict longTitle = v;
    longTitle.title.assign(5000, 'T');

    const auto with = [&good](std::size_t at, std::string bytes) {
        return good.substr(0, at) + bytes + good.substr(at + bytes.size());
    };
    const struct {
        const char* name;
        std::string payload;
    } bad[] = {
        {"unknown outcome", with(0, "\x7F")},
        {"outcome the window gives", with(0, std::string(1, static_cast<char>(LinkScan::WorkerCrashed)))},
        {"follow count above link count", with(10, std::string("\x03", 1))},
        {"more kept links than counted", with(34, std::string("\x03", 1))},
        {"text longer than the frame", with(35 + 1, std::string("\xFF\xFF", 2))},
        {"more scripts than are counted", with(good.size() - 4, std::string("\xE9\x03", 2))},
        {"a byte left over", good + "x"},
        {"a title of a page that was not read", wire::EncodeVerdict(unread)},
        {"a title longer than the finder keeps", wire::EncodeVerdict(longTitle)},
        {"cut short", good.substr(0, good.size() - 1)},
    };
    for (const auto& c : bad)
        EXPECT_FALSE(wire::DecodeVerdict(c.payload, {})) << c.name;
    retrieval::LinkVerdict unparsed;
    unparsed.scan = LinkScan::TooLarge;
    unparsed.scripts = 1;
    EXPECT_FALSE(wire::DecodeVerdict(wire::EncodeVerdict(unparsed), {})) << "scripts of a page not parsed";
    retrieval::LinkLimits few;
    few.maxLinksExamined = 3;
    EXPECT_FALSE(wire::DecodeVerdict(good, few)) << "more examined than the limits allow";

    EXPECT_TRUE(wire::ReadFrame(Frame(wire::kVersion, 3, good)));
    EXPECT_FALSE(wire::ReadFrame(Frame(wire::kVersion + 1, 3, good)));
    EXPECT_FALSE(wire::ReadFrame(Frame(wire::kVersion, 9, good)));
    EXPECT_FALSE(wire::FrameLength(std::string("\xFF\xFF\xFF\x7F", 4), wire::kMaxAnswerBytes));
    EXPECT_FALSE(wire::FrameLength(std::string("\x01\x00\x00\x00", 4), wire::kMaxAnswerBytes));
}

// Each fault ends as its note says (an answer that cannot be true counts as a crash), the next page
// is checked by a new worker, and the file the worker reached for was never read.
TEST(LinkWorker, AFaultyPageCostsOnlyItsOwnLinks) {
    retrieval::WorkerLinkChecker probe("/proc/self/exe");
    const bool seccomp = probe.sandbox() == retrieval::SandboxState::Seccomp;
    if (!seccomp)
        std::printf("seccomp is not available here: the worker runs with resource limits only\n");

    Harness h;
    Lines events;
    h.fields.domain = "shop.example";
    const std::string link = "<a href='http://shop.example/'>Shop</a>";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"<!--crash--> shop.example", "Links nicht geprüft: Prüfung der Seite abgebrochen (Absturz)"},
        {"<!--spin--> shop.example", "Links nicht geprüft: Prüfung der Seite abgebrochen (Zeitlimit)"},
        {"<!--hog--> shop.example",
         // The address sanitizer reports running out of memory as an error of its own.
         kSanitized ? "Links nicht geprüft: Prüfung der Seite abgebrochen (Absturz)"
                    : "Links nicht geprüft: Prüfung der Seite abgebrochen (Speicherlimit)"},
        {"<!--lie-->" + link, "Links nicht geprüft: Prüfung der Seite abgebrochen (Absturz)"},
        {"<!--passwd-->" + link, seccomp ? "Links nicht geprüft: Prüfung der Seite abgebrochen (Absturz)"
                                         : "Link vorhanden (follow) – Ankertext „Shop“"},
        {link, "Link vorhanden (follow) – Ankertext „Shop“"},
    };
    std::map<std::string, retrieval::FetchedPage> pages;
    h.table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string url = "http://seite" + std::to_string(i) + ".example/";
        h.table.AppendRecord({url, "Ankertext", "http://shop.example/", "follow"});
        pages[url] = {rows[i].first, "text/html"};
    }
    retrieval::RunCrossCheck(h.window, [&pages](const std::string& url) { return pages.at(url); });

    const Lines notes = ColumnNotes(h.table, 5);
    const Lines status = h.table.ColumnText(5);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(status[i + 2], "gefunden") << rows[i].first;
        EXPECT_EQ(notes[i + 2], rows[i].second) << rows[i].first;
    }
}

TEST(LinkWorker, StoppedCheckEndsAtOnceAndTheNextOneGetsANewWorker) {
    retrieval::WorkerLinkChecker checker("/proc/self/exe", {std::chrono::milliseconds(20'000)});
    const std::atomic<bool> stop{true};
    EXPECT_EQ(checker.check("<!--spin-->", "http://a.example/", {}, "shop.example", &stop).scan,
              LinkScan::Stopped);
    const auto v =
        checker.check("<a href=//shop.example/>x</a>", "http://a.example/", {}, "shop.example", nullptr);
    EXPECT_EQ(v.linkCount, 1u);
    EXPECT_EQ(checker.started(), 2);
    EXPECT_EQ(retrieval::WorkerLinkChecker("/nonexistent/program")
                  .check("x", "http://a.example/", {}, "shop.example", nullptr)
                  .scan,
              LinkScan::WorkerUnavailable);
}

// Where the kernel refuses the filter, the worker still reaches no file of the user's, no network
// and no program: each row is what code that took over the parser would do, and its trace.
TEST(LinkWorker, WithoutTheFilterTheWorkerReachesNoFileNetworkOrProgram) {
    ::setenv("QH_TEST_REFUSE_FILTER", "1", 1);
    retrieval::WorkerLinkChecker checker("/proc/self/exe");
    const retrieval::SandboxState state = checker.sandbox();
    ::unsetenv("QH_TEST_REFUSE_FILTER");
    ASSERT_NE(state, retrieval::SandboxState::Seccomp);
    EXPECT_NE(checker.weakeningNotice(), "");
    if (state != retrieval::SandboxState::Isolated)
        GTEST_SKIP() << "this kernel allows no unprivileged user namespaces: resource limits only";

    TempFolder folder;
    const std::string kept = folder / "kept.txt";
    const std::string made = folder / "made.txt";
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length), 0);
    const std::string port = std::to_string(ntohs(at.sin_port));

    const std::vector<std::pair<std::string, std::string>> attempts = {
        {"unlink:" + kept, "removes a file"},
        {"rename:" + kept, "renames a file"},
        {"truncate:" + kept, "empties a file"},
        {"create:" + made, "creates a file"},
        {"exec:" + made, "starts a program"},
        {"connect:" + port, "opens a connection"},
        {"passwd", "reads a file"},
    };
    for (const auto& [marker, what] : attempts) {
        SCOPED_TRACE(what);
        WriteBytes(kept, "Inhalt");
        const retrieval::LinkVerdict v =
            checker.check("<!--" + marker + "--><a href='http://shop.example/'>Shop</a>", "http://a.example/",
                          {}, "shop.example", nullptr);
        EXPECT_EQ(ReadBytes(kept), "Inhalt");
        EXPECT_FALSE(std::filesystem::exists(made));
        EXPECT_LT(accept(listener, nullptr, nullptr), 0) << "a connection arrived";
        if (v.parsed()) {
            ASSERT_EQ(v.links.size(), 1u);
            EXPECT_EQ(v.links[0].anchor, "Shop"); // nothing read from /etc/passwd
        }
    }
    close(listener);
}

// A Prüfe whose pages were checked without the filter says so once, after its reports.
TEST(LinkWorker, ARunWithoutTheFilterSaysSoOnce) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "filter refused" : "filter in force");
        if (refused)
            ::setenv("QH_TEST_REFUSE_FILTER", "1", 1);
        Harness h;
        h.fields.domain = "shop.example";
        h.table.ResetWithHeaders(retrieval::Headers(retrieval::Service::Seokicks));
        for (const char* url : {"http://a.example/", "http://b.example/"})
            h.table.AppendRecord({url, "Ankertext", "http://shop.example/", "follow"});
        retrieval::RunCrossCheck(h.window, [](const std::string&) {
            return retrieval::FetchedPage{"<a href='http://shop.example/'>Shop</a>", "text/html"};
        });
        ::unsetenv("QH_TEST_REFUSE_FILTER");
        const auto notices =
            std::count_if(h.box.messages.begin(), h.box.messages.end(), [](const std::string& m) {
                return m.find("Systemaufruf-Filter (seccomp)") != std::string::npos;
            });
        EXPECT_EQ(notices, refused || retrieval::WorkerLinkChecker("/proc/self/exe").sandbox() !=
                                          retrieval::SandboxState::Seccomp
                               ? 1
                               : 0);
        EXPECT_EQ(h.box.messages.front(), "Report gespeichert");
    }
}
