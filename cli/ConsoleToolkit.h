#pragma once
// The toolkit contract on a terminal or in a log: the commands of the window run unchanged, their
// boxes become lines on standard error, the window fields live in memory, and the paced wait is a
// real sleep in which the transfers go on.

#include "app/contract/EventSource.h"
#include "app/contract/Toolkit.h"
#include "app/contract/Window.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// Progress on standard error: on a terminal one line that each new text overwrites, elsewhere one
// plain line per text. Messages always get a line of their own.
class Progress {
public:
    explicit Progress(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
    ~Progress() { endLine(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void show(const std::string& text);
    void message(const std::string& text);
    // Ends the updating line, so that what follows starts on a line of its own.
    void endLine();

private:
    std::FILE* out_;
    bool terminal_;
    bool open_ = false;
};

class ConsoleFields final : public toolkit::WindowFields {
public:
    ConsoleFields(Progress& progress, const toolkit::Shared& shared) : progress_(progress), shared_(shared) {}

    std::string domainText() const override { return domain; }
    void setDomainText(const std::string& text) override { domain = text; }
    std::vector<std::string> domainHistory() const override { return history; }
    void setDomainHistory(const std::vector<std::string>& entries) override { history = entries; }
    bool seokicksChosen() const override { return !xovi; }
    bool xoviChosen() const override { return xovi; }
    std::string maxergText() const override { return maxerg; }
    void setMaxergText(const std::string& text) override { maxerg = text; }
    std::string xoviApiText() const override { return xoviKey; }
    void setXoviApiText(const std::string& text) override { xoviKey = text; }
    std::string seokicksText() const override { return seokicksCode; }
    void setSeokicksText(const std::string& text) override { seokicksCode = text; }
    void setCaption(const std::string& text) override;
    void setStatusLine(const std::string& text) override { statusLine = text; }
    void setChangeCounts(const std::vector<std::pair<std::string, std::int64_t>>& counts,
                         const std::vector<std::pair<std::string, std::int64_t>>& losses) override {
        changeCounts = counts;
        lossCounts = losses;
        compared = true;
    }

    std::string domain;
    std::vector<std::string> history;
    bool xovi = false;
    std::string maxerg = "100"; // the window's starting value
    std::string xoviKey = "XOVI-API-Keys"; // the window's starting texts
    std::string seokicksCode = "SEO-KICKS-Code";
    std::string statusLine;
    std::vector<std::pair<std::string, std::int64_t>> changeCounts;
    std::vector<std::pair<std::string, std::int64_t>> lossCounts;
    bool compared = false;

private:
    Progress& progress_;
    const toolkit::Shared& shared_;
};

// Boxes as lines. "Report gespeichert" comes after each pair of reports: the paths are kept then.
class ConsoleBox final : public toolkit::MessageBox {
public:
    ConsoleBox(Progress& progress, const toolkit::Shared& shared) : progress_(progress), shared_(shared) {}
    void showMessage(const std::string& text) override;
    void showError(const std::string& text) override;
    // Nobody is there to answer: the box's default, "Nein".
    bool askYesNo(const std::string& question) override;

    std::vector<std::string> reportBases; // each report pair's path without the extension
    bool historyFailed = false;

private:
    Progress& progress_;
    const toolkit::Shared& shared_;
};

// Sleeps in the event source's wait, so that transfers it drives go on; a stop ends every wait
// with toolkit::Cancelled.
class ConsoleWaiter final : public toolkit::PacedWaiter {
public:
    ConsoleWaiter(toolkit::EventSource& events, const std::atomic<int>& stop) : events_(events), stop_(stop) {}
    void pacedWait(std::int32_t milliseconds) override;
    void waitUntil(const std::function<bool()>& done) override;

private:
    void checkStop() const;
    toolkit::EventSource& events_;
    const std::atomic<int>& stop_;
};

// A width for the table's column fitting, which nobody sees here.
class CharWidth final : public toolkit::TextWidth {
public:
    std::int32_t width(std::string_view text) const override { return static_cast<std::int32_t>(text.size()) * 7; }
};

} // namespace cli
