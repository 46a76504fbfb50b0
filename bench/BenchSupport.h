#pragma once
// Pieces the benchmarks share: a generated service answer, peak memory, an offscreen Qt setup.

#include <string>

namespace bench {

inline constexpr const char* kDomain = "beispiel-shop.example";

// A SEOkicks answer (details=2) with the given number of records, pretty-printed with LF only,
// as a Linux server sends it. The same seed gives the same answer.
std::string GenerateSeokicksAnswer(int records);

double PeakRssMiB();

// Offscreen platform unless the caller chose one, and a private runtime directory so that Qt
// stays quiet; the directory goes when this does.
class OffscreenEnvironment {
public:
    OffscreenEnvironment();
    ~OffscreenEnvironment();
    OffscreenEnvironment(const OffscreenEnvironment&) = delete;
    OffscreenEnvironment& operator=(const OffscreenEnvironment&) = delete;

private:
    std::string runtimeDir_;
};

} // namespace bench
