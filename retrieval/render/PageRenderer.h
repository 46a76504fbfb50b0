#pragma once
// A page as a browser shows it once its scripts have run: the document a headless browser holds
// after loading the address, serialised as HTML. The browser fetches the page and whatever its
// scripts load itself. HeadlessBrowserLinux.cpp runs one as an unprivileged process of its own; a
// port adds its own file and leaves the callers as they are.

#include "retrieval/render/BrowserSetup.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace retrieval {

// What a render may take at most: the page's time limit and the document's size, which is as
// untrusted as a fetched page and capped like one.
inline constexpr std::chrono::milliseconds kRenderLimit{15'000};
inline constexpr std::size_t kMaxDomBytes = std::size_t{16} << 20;

enum class RenderEnd {
    Complete,    // loaded and its scripts run: the document as a person sees it
    Partial,     // the browser gave up waiting for the page's last parts: the document as far as it got
    TimedOut,    // no document within the time limit: the browser was ended
    TooLarge,    // the document was larger than kMaxDomBytes: the browser was ended
    LoadFailed,  // the browser could not load the page
    Crashed,     // it ended without a document
    Unavailable, // it cannot be started here; `reason` says why
    Stopped,     // the run was stopped meanwhile
};

struct Rendered {
    RenderEnd end = RenderEnd::Crashed;
    std::string dom{};    // Complete and Partial only
    std::string reason{}; // Unavailable only: a German sentence part ("kein Benutzerkonto ohne Rechte …")
};

struct RenderRequest {
    std::string url; // http or https
    ProxySettings proxy;
    std::chrono::milliseconds limit = kRenderLimit;
    std::string userAgent{}; // the program's, as its own requests send it
};

class PageRenderer {
public:
    virtual ~PageRenderer() = default;
    // The browser is still there to be started.
    virtual bool available() const = 0;
    // One render at a time in the whole program: a second caller waits for the first. `stop`,
    // when given, ends the wait or the render at once.
    virtual Rendered render(const RenderRequest& request, const std::atomic<bool>* stop) = 0;
    // One line for --version: which browser, with or without its own sandbox, as which user. May
    // start the browser once to find out.
    virtual std::string describe() = 0;
};

// The headless browser on PATH (`pathVariable`) or in /usr/bin, chromium-headless-shell before
// chromium; empty when there is none.
std::string FindBrowser(const char* pathVariable);
// Null when `program` is empty.
std::unique_ptr<PageRenderer> MakeHeadlessBrowser(std::string program);
// The browser that FindBrowser finds on this process's PATH, or null.
std::unique_ptr<PageRenderer> FindHeadlessBrowser();

// For --version: "Browser: …", also when none is found.
std::string BrowserLine();

} // namespace retrieval
