#pragma once
#include <stdexcept>
#include <string>

namespace toolkit {

// The one error type the core raises. Its message is German and is shown to the user as it
// stands, so it never carries a secret (API key, service code). A NUL from user text would end
// the message early wherever it is read as a C string, so it shows as U+2400 instead.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(WithoutNul(message)) {}

private:
    static std::string WithoutNul(const std::string& message) {
        if (message.find('\0') == std::string::npos)
            return message;
        std::string out;
        out.reserve(message.size() + 8);
        for (const char c : message) {
            if (c == '\0')
                out += "\xE2\x90\x80"; // U+2400 SYMBOL FOR NULL
            else
                out += c;
        }
        return out;
    }
};

} // namespace toolkit

namespace toolkit {

// Raised when a running command is ended because the window is being closed. Never shown.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

} // namespace toolkit
