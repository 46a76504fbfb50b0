#include "cli/Notify.h"

namespace cli {

std::string LossNotificationBody(const RunRequest& request, const RunOutcome& outcome, bool markup) {
    std::string body = request.domain;
    for (const auto& [word, n] : outcome.losses)
        body += "\n" + std::to_string(n) + " × " + word;
    if (!markup)
        return body;
    std::string escaped;
    for (const char c : body) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace cli
