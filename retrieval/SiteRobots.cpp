#include "retrieval/SiteRobots.h"

#include "retrieval/url/WebUrl.h"

namespace retrieval {

FetchOptions RobotsFetchOptions() {
    FetchOptions options = PageFetchOptions();
    options.maxBodyBytes = kRobotsMaxBytes + 1;
    options.cutAtCap = true;
    options.maxRedirects = 5;
    options.totalTimeout = std::chrono::seconds(30);
    return options;
}

std::string RobotsUrlOf(const std::string& pageUrl) {
    const std::optional<WebUrl> url = ParseWebUrl(pageUrl);
    if (!url || !url->web() || !url->host || url->host->empty())
        return {};
    return url->scheme + "://" + *url->host + (url->port ? ":" + std::to_string(*url->port) : "") +
           "/robots.txt";
}

void SiteRobots::answered(const std::string& robotsUrl, const FetchedPage& answer) {
    File file;
    // Anything but a success (a redirect that led nowhere, 1xx) counts as no file: all allowed.
    if (answer.status >= 200 && answer.status < 300)
        file.rules = RobotsRules::Parse(answer.body, kRobotsAgent);
    files_.insert_or_assign(robotsUrl, std::move(file));
}

void SiteRobots::failed(const std::string& robotsUrl, const std::exception_ptr& error) {
    File file;
    try {
        std::rethrow_exception(error);
    } catch (const FetchError& e) {
        const long status = e.httpStatus();
        // 4xx: there is no file, everything is allowed; a 429 is the server's "not now" instead.
        if (status >= 400 && status < 500 && status != 429) {
            files_.insert_or_assign(robotsUrl, std::move(file));
            return;
        }
        file.failure = status > 0 ? "HTTP-Status " + std::to_string(status) : e.reason();
    } catch (const std::exception& e) {
        file.failure = e.what();
    } catch (...) {
        file.failure = "Unbekannter Fehler";
    }
    // The RFC has crawlers take an unreachable file as "disallow all"; whether that lasts is not
    // known, so the page is not called blocked.
    file.reachable = false;
    files_.insert_or_assign(robotsUrl, std::move(file));
}

RobotsFinding SiteRobots::finding(const std::string& pageUrl) const {
    const auto it = files_.find(RobotsUrlOf(pageUrl));
    if (it == files_.end())
        return {};
    if (!it->second.reachable)
        return {RobotsFinding::State::Unreachable, it->second.failure};
    const std::optional<WebUrl> url = ParseWebUrl(pageUrl);
    std::string path;
    if (url && !url->opaquePath)
        for (const std::string& segment : url->path)
            path += "/" + segment;
    if (url && url->query)
        path += "?" + *url->query;
    switch (it->second.rules.check(path)) {
    case RobotsRules::Verdict::Disallowed:
        return {RobotsFinding::State::Disallowed};
    case RobotsRules::Verdict::Undecided:
        return {RobotsFinding::State::Undecided};
    default:
        return {RobotsFinding::State::Allowed};
    }
}

} // namespace retrieval
