#pragma once
// The robots.txt files of one "Prüfe": which file governs a page, and what each answer means for
// the pages it governs (RFC 9309). A file is asked for once per run and origin (scheme, host and
// port), and only for pages that link to the domain.

#include "retrieval/LinkReport.h"
#include "retrieval/http/PageFetch.h"
#include "retrieval/robots/RobotsTxt.h"

#include <exception>
#include <map>
#include <string>

namespace retrieval {

// The crawler whose group decides: the search engine most users rank in, else "*".
inline constexpr const char* kRobotsAgent = "Googlebot";

// Fetching a robots.txt: its first kRobotsMaxBytes and one byte more (to tell a file cut at the
// limit), five redirects, half a minute at most.
FetchOptions RobotsFetchOptions();

// "https://host:8443/robots.txt" for a page there; empty for an address that is no http(s) URL.
std::string RobotsUrlOf(const std::string& pageUrl);

class SiteRobots {
public:
    // Whether the file has been answered (or its fetch failed).
    bool known(const std::string& robotsUrl) const { return files_.count(robotsUrl) > 0; }
    void answered(const std::string& robotsUrl, const FetchedPage& answer);
    // Not for toolkit::Cancelled, which ends the run rather than the file.
    void failed(const std::string& robotsUrl, const std::exception_ptr& error);

    // What the file of the page's origin says of it; NotAsked while that file is not known.
    RobotsFinding finding(const std::string& pageUrl) const;

private:
    struct File {
        bool reachable = true;
        RobotsRules rules;
        std::string failure; // why it could not be read
    };
    std::map<std::string, File> files_;
};

} // namespace retrieval
