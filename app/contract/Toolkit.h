#pragma once
// The few things the Qt-free core needs from the window. table/, retrieval/ and storage/ see the
// window only through these interfaces; app/ implements them over Qt, tests over fakes.
// All text is UTF-8.

#include "app/contract/Progress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace toolkit {

// Width in pixels of a text in the grid's font.
class TextWidth {
public:
    virtual ~TextWidth() = default;
    virtual std::int32_t width(std::string_view text) const = 0;
};

// Modal boxes. showMessage: plain box, one OK button, no icon. showError: the error box that
// the window shows for an error a handler did not catch. askYesNo: a question with "Ja" and
// "Nein", "Nein" the default; true for "Ja".
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void showMessage(const std::string& text) = 0;
    virtual void showError(const std::string& text) = 0;
    virtual bool askYesNo(const std::string& question) = 0;
};

// Lets the given milliseconds pass while window events keep being handled.
class PacedWaiter {
public:
    virtual ~PacedWaiter() = default;
    virtual void pacedWait(std::int32_t milliseconds) = 0;
    // Lets window events be handled until `done` returns true, looking every few milliseconds;
    // ends like pacedWait when the window closes. Where there is no window, it only sleeps.
    virtual void waitUntil(const std::function<bool()>& done) {
        while (!done())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

// The window fields the commands read and write.
class WindowFields {
public:
    virtual ~WindowFields() = default;

    virtual std::string domainText() const = 0;
    // Puts a domain into the field (an import that found it in its list).
    virtual void setDomainText(const std::string& text) = 0;
    virtual std::vector<std::string> domainHistory() const = 0;
    // Replaces the drop-down list of the domain field (redrawing suspended meanwhile).
    virtual void setDomainHistory(const std::vector<std::string>& entries) = 0;

    virtual bool seokicksChosen() const = 0; // RadioButton1
    virtual bool xoviChosen() const = 0;     // XOVI

    virtual std::string maxergText() const = 0;
    virtual void setMaxergText(const std::string& text) = 0;
    virtual std::string xoviApiText() const = 0;
    virtual void setXoviApiText(const std::string& text) = 0;
    virtual std::string seokicksText() const = 0;
    virtual void setSeokicksText(const std::string& text) = 0;

    virtual void setCaption(const std::string& text) = 0;
    // The plain-text status line under the grid; empty hides it. Windows without one ignore it.
    virtual void setStatusLine(const std::string& /*text*/) {}
    // What the Prüfe found changed, as (change word, number of rows) in the summary line's order,
    // and the same of the rows that lost a link for the first time; empty when there was nothing
    // to compare with. For callers that act on losses; the window has the summary line and
    // ignores it.
    virtual void setChangeCounts(const std::vector<std::pair<std::string, std::int64_t>>& /*counts*/,
                                 const std::vector<std::pair<std::string, std::int64_t>>& /*losses*/) {}
    // How far the running command is; a total of 0 ends the display. Windows without a progress
    // display ignore it.
    virtual void setProgress(const Progress& /*progress*/) {}
};

} // namespace toolkit
