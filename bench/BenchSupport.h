#pragma once
// Pieces the benchmarks share: a generated service answer, the timed Check pipeline, peak memory,
// an offscreen Qt setup.

#include "table/BacklinkTable.h"

#include <cstddef>
#include <string>

namespace bench {

inline constexpr const char* kDomain = "beispiel-shop.example";

// A SEOkicks answer (details=2) with the given number of records, pretty-printed with LF only,
// as a Linux server sends it. The same seed gives the same answer.
std::string GenerateSeokicksAnswer(int records);

double PeakRssMiB();

// What "Check" does with a SEOkicks answer once it is in: split, cut into lines, pick out the
// records, and fill the table with the columns fitted after every row. Seconds per stage.
struct PipelineTimes {
    double splitTags = 0;
    double lines = 0;
    double extractRecords = 0;
    double resetWithHeaders = 0;
    double appendAndFit = 0;
    double total = 0;
    std::size_t lineCount = 0;
    std::size_t recordCount = 0;
};
PipelineTimes RunPipeline(const std::string& answer, table::BacklinkTable& table);

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
