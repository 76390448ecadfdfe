// The memory a long-running GUI program needs for its events: a shown dialog
// with an edit takes EVENTS events (default 1,000,000) of a 100-character
// text through the application queue, offscreen, each posted, taken with
// AppEvent and handed to HandleEvent, as a program's loop does. Prints the
// resident size before and after, and the time per event.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "rowxpp/gui.h"

namespace {

// The resident size in kilobytes (VmRSS of /proc/self/status).
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const long events = argc > 1 ? std::atol(argv[1]) : 1000000;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!xbp::StartApplication()) {
        std::fprintf(stderr, "the application could not start\n");
        return 2;
    }
    const xpp::Value nil;
    auto dlg = xbp::New<rowxpp::XbpDialog>(xpp::Args{nil, nil, xpp::Array{100, 100}, xpp::Array{400, 300}});
    dlg->create();
    auto sle = xbp::New<rowxpp::XbpSLE>(xpp::Args{xpp::Value(dlg->drawingArea()), nil, xpp::Array{10, 10},
                                                  xpp::Array{200, 20}});
    sle->create();
    dlg->Show();
    const std::string text(100, 'x');
    auto run = [&](long n) {
        for (long i = 0; i < n; ++i) {
            xbp::PostAppEvent(1049999, text, nil, xpp::Value(sle));
            xpp::Ref mp1, mp2, target;
            const int event = xbp::AppEvent(mp1, mp2, target);
            target.Get().As<xbp::Window>()->HandleEvent(event, mp1.Get(), mp2.Get());
        }
    };
    run(1000);  // the first events warm Qt up
    const long before = ResidentKb();
    const auto start = std::chrono::steady_clock::now();
    run(events);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = ResidentKb();
    std::printf("events: %ld\nresident before: %ld kB\nresident after:  %ld kB\ngrowth: %ld kB\n"
                "time per event: %.2f us\n",
                events, before, after, after - before, seconds * 1e6 / static_cast<double>(events));
    dlg->destroy();
    return 0;
}
