// Compiling a route list for one country from a whole delegation file (reading and parsing it,
// merging and splitting the country's ranges, formatting the list), beside the time to merely
// read the same file into memory. Median of several runs; the file stays in the page cache.
//
//   brindlecove_compile_routes_bench [DELEGATION-FILE [COUNTRY]]
//
// Without arguments: delegated-afrinic-extended-latest in ../shared/data beside the source tree,
// for ZA.
#include "tools/routes/RoutesTool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace brindlecove::routes;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Runs = 21;

template <typename TWork>
double MedianMilliseconds(const TWork& work) {
    std::vector<double> samples;
    for (int run = 0; run < Runs; ++run) {
        const auto start = Clock::now();
        work();
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1]
                                      : BRINDLECOVE_SOURCE_DIR
                                 "/../shared/data/delegated-afrinic-extended-latest";
    const std::string country = argc > 2 ? argv[2] : "ZA";

    std::size_t bytes = 0;
    const double read = MedianMilliseconds([&] {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        std::string text(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
        in.seekg(0);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        bytes = static_cast<std::size_t>(in.gcount());
    });
    std::size_t listBytes = 0;
    std::string fault;
    const double compile = MedianMilliseconds([&] {
        TAllocations allocations;
        fault = ReadAllocations({path}, {country}, allocations);
        listBytes = FormatRouteList(allocations, {country}).size();
    });
    if (bytes == 0 || !fault.empty()) {
        std::fprintf(stderr, "cannot compile %s: %s\n", path.c_str(),
                     fault.empty() ? "no data" : fault.c_str());
        return 1;
    }
    std::printf("Route list for %s from %s (%zu bytes; list of %zu bytes), median of %d runs\n",
                country.c_str(), path.c_str(), bytes, listBytes, Runs);
    std::printf("  %-52s %10.3f ms\n", "compile (read, parse, merge, split, format)", compile);
    std::printf("  %-52s %10.3f ms\n", "reference: reading the file into memory", read);
    std::printf("  %-52s %10.3f ms\n", "target: well under", 100.0);
    return 0;
}
