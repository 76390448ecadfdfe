// Stands in for the theme library: IsThemeActive and IsAppThemed answer
// what the test set with StubSetTheme.
#include <atomic>

namespace {
std::atomic<int> theme{0}, app{0};
}

extern "C" {
__attribute__((visibility("default"))) int IsThemeActive() { return theme.load(); }
__attribute__((visibility("default"))) int IsAppThemed() { return app.load(); }
__attribute__((visibility("default"))) int StubSetTheme(long long themeAnswer, long long appAnswer) {
    theme = static_cast<int>(themeAnswer);
    app = static_cast<int>(appAnswer);
    return 0;
}
}
