#pragma once
// Bot protection: whether an answer is a CDN's or web-application firewall's challenge or block
// page instead of the page asked for, whatever its status. One table holds what gives each service
// away: a header it sends only with such an answer, and markers of its page. The body is searched
// as bytes within a bounded window, never parsed, so that this may run outside the sandbox.

#include "retrieval/page/Headers.h"

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace retrieval {

// Bytes of a body that are searched: challenge pages are small, and an error answer keeps no more.
inline constexpr std::size_t kChallengeWindowBytes = std::size_t{256} << 10;

struct ChallengeHeader {
    std::string_view name;     // empty: the service has no header of its own
    std::string_view contains; // in the value, ASCII case ignored; empty: any value
    // The header names only the service's edge, which serves ordinary pages too: it counts on a
    // refusal (403, 429) only.
    bool onRefusalOnly = false;
};

// Strings that all occur in a challenge page of the service (ASCII case ignored); empty ones are unused.
using ChallengeMarkers = std::array<std::string_view, 2>;

struct ChallengeSignature {
    std::string_view service; // as the reason names it; empty: a challenge of no known service
    ChallengeHeader header;
    std::array<ChallengeMarkers, 3> markers; // any one group gives the page away
    // The markers are phrases an ordinary page might carry: they count on an error status only.
    bool markersOnErrorOnly = false;
};

std::span<const ChallengeSignature> ChallengeSignatures();

struct Challenge {
    std::string service; // empty when the service is not known
};

// The challenge an answer is, if it is one: `status` is its HTTP status, `body` its bytes (only the
// first kChallengeWindowBytes are read).
std::optional<Challenge> FindChallenge(long status, const HeaderList& headers, std::string_view body);

// "blockiert (Bot-Schutz: Cloudflare)", or "blockiert (Bot-Schutz)" for an unknown service.
std::string ChallengeReason(const Challenge& challenge);
// Whether a failure's reason is one ChallengeReason gives.
bool IsChallengeReason(std::string_view reason);

} // namespace retrieval
