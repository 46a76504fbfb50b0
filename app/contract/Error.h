#pragma once
#include <stdexcept>
#include <string>

namespace toolkit {

// The one error type the core raises. Its message is German and is shown to the user as it
// stands, so it never carries a secret (API key, service code).
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

} // namespace toolkit

namespace toolkit {

// Raised when a running command is ended because the window is being closed. Never shown.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

} // namespace toolkit
