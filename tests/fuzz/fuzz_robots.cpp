// The robots.txt reader. Input: a path, a line feed, the file. Reading and checking never fail;
// the normal form is its own normal form; a Disallow of a plain path keeps that path off.
#include "retrieval/robots/RobotsTxt.h"
#include "tests/fuzz/FuzzInput.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view path = fuzz::TakeLine(rest);
    retrieval::RobotsRules::Parse(rest, "Googlebot").check(path);

    const std::string normal = retrieval::NormalisedRobotsPath(path);
    if (retrieval::NormalisedRobotsPath(normal) != normal)
        std::abort();

    const bool plain = path.starts_with('/') && path.find_first_of("*$#\r\n \t") == std::string_view::npos &&
                       retrieval::NormalisedRobotsPath(path) != "/robots.txt";
    if (plain &&
        retrieval::RobotsRules::Parse("User-agent: *\nDisallow: " + std::string(path) + "\n", "Googlebot")
                .check(path) != retrieval::RobotsRules::Verdict::Disallowed)
        std::abort();
    return 0;
}
