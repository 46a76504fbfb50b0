#include "cli/ConsoleToolkit.h"

#include "app/contract/Error.h"

#include <chrono>

namespace cli {

void Progress::show(const std::string& text) {
    if (terminal_) {
        // Carriage return and erase to the end of the line: the line shows the latest text only.
        std::fprintf(out_, "\r\x1b[K%s", text.c_str());
        open_ = true;
    } else {
        std::fprintf(out_, "%s\n", text.c_str());
    }
    std::fflush(out_);
}

void Progress::message(const std::string& text) {
    endLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void Progress::endLine() {
    if (open_) {
        std::fputs("\n", out_);
        open_ = false;
    }
}

void ConsoleFields::setCaption(const std::string& text) {
    // The window's title starts every caption; the line says what happens only.
    const std::string& title = shared_.titleText;
    if (text == title)
        return;
    if (text.starts_with(title + " "))
        progress_.show(text.substr(title.size() + 1));
    else
        progress_.show(text);
}

void ConsoleBox::showMessage(const std::string& text) {
    if (text == "Report gespeichert" && shared_.reportPath.ends_with(".html"))
        reportBases.push_back(shared_.reportPath.substr(0, shared_.reportPath.size() - 5));
    progress_.message(text);
}

void ConsoleBox::showError(const std::string& text) {
    // Only the run history raises error boxes that do not end the command.
    historyFailed = true;
    progress_.message("Fehler: " + text);
}

bool ConsoleBox::askYesNo(const std::string& question) {
    progress_.message(question + " Nein");
    return false;
}

void ConsoleWaiter::checkStop() const {
    if (stop_.load() != 0)
        throw toolkit::Cancelled();
}

void ConsoleWaiter::pacedWait(std::int32_t milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
    checkStop();
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        events_.wait(std::chrono::ceil<std::chrono::milliseconds>(until - now));
        checkStop();
    }
}

void ConsoleWaiter::waitUntil(const std::function<bool()>& done) {
    checkStop();
    while (!done()) {
        events_.wait(std::chrono::milliseconds(2));
        checkStop();
    }
}

} // namespace cli
