#pragma once
// German words for a system error, for the parenthesised reason in error messages.

#include <string>

namespace text {

std::string SystemReason(int errorNumber);

} // namespace text
