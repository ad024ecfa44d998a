// The floor of the service round trip on its own: WebKitGTK carrying the posting call of an
// echo request to the echo page and the page's answer back, nothing of ours on the way
// (see BareRoundTrip.h). Prints the median trip per payload size. The service benchmark runs
// the same trips interleaved with its own and prints the ratio; this program lets the floor be
// measured alone, for example under perf.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BareRoundTrip.h"

int main(int argc, char** argv)
{
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "kx_bare_webkit_benchmark: no display; run under xvfb-run\n");
        return 1;
    }
    const int trips = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    BareRoundTrip bare;
    gchar* uri = g_filename_to_uri(KX_BENCHMARK_DIR "/pages/echo.html", nullptr, nullptr);
    const bool opened = bare.open(uri);
    g_free(uri);
    if (!opened) {
        std::fprintf(stderr, "kx_bare_webkit_benchmark: the echo page did not announce itself\n");
        return 1;
    }
    std::printf("%10s %12s %12s\n", "payload", "median_ms", "trips");
    for (std::size_t bytes : {std::size_t(0), std::size_t(1) << 10, std::size_t(64) << 10, std::size_t(1) << 20}) {
        const std::string body = BareRoundTrip::bodyText(bytes);
        const int count = bytes >= (std::size_t(1) << 20) ? std::max(1, trips / 4) : trips;
        std::vector<double> times;
        for (int i = 0; i < count; ++i) {
            const double seconds = bare.trip(body);
            if (seconds < 0) {
                std::fprintf(stderr, "kx_bare_webkit_benchmark: the answer was not JSON\n");
                return 1;
            }
            times.push_back(seconds);
        }
        std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
        std::printf("%10zu %12.3f %12d\n", bytes, times[times.size() / 2] * 1000, count);
    }
    return 0;
}
