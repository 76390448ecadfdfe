// A GUI program that returns from main with windows still open: after an
// error flash over its main dialog ("flash"), or after a dialog made and
// destroyed during the run ("destroy"). With "crt" it makes a CRT before any
// other class of the library and checks its space: status 3 when the space
// is not of the library's class, 4 when it does not draw a caption sent by
// name, 5 or 6 when its window does not show what the same call draws on an
// image space of its size. Run by the exit tests.
#include <cstring>

#include <QImage>

#include "rowxpp/gui.h"
#include "xbp/testing.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using xpp::Array;
using xpp::Value;
const Value NIL;

int main(int argc, char** argv) {
    const bool destroy = argc > 1 && std::strcmp(argv[1], "destroy") == 0;
    if (!xbp::StartApplication()) return 2;
    if (argc > 1 && std::strcmp(argv[1], "crt") == 0) {
        auto crt = xbp::New<XbpCrt>();
        crt->create();
        auto ps = crt->presSpace();
        if (!ps || ps->className() != "XbpPresSpace" || !std::dynamic_pointer_cast<XbpPresSpace>(ps)) return 3;
        const Value r = xpp::Send(Value(ps), "DrawCaptionStr", xpp::Args{Array{10, 10}, NIL, "~Save"});
        if (!r.IsLogical() || !r.Log()) return 4;
        // the CRT shows what the same call draws on an image space of its size
        const QImage shown = xbp::testing::Grab(crt);
        auto image = xbp::New<XbpPresSpace>();
        image->create(NIL, Array{ps->Image().width(), ps->Image().height()});
        image->DrawCaptionStr(xpp::Args{Array{10, 10}, NIL, "~Save"});
        const QImage drawn = image->Image();
        if (shown.isNull() || shown.size() != drawn.size()) return 5;
        return shown.convertToFormat(QImage::Format_RGB32) == drawn.convertToFormat(QImage::Format_RGB32) ? 0 : 6;
    }
    auto m = xbp::New<XbpDialog>(xpp::Args{NIL, NIL, Array{100, 100}, Array{400, 300}});
    m->create();
    xpp::SetAppWindow(Value(m));
    xpp::InitModules();
    if (destroy) {
        auto d = xbp::New<XbpDialog>(xpp::Args{NIL, NIL, Array{10, 10}, Array{120, 80}});
        d->create();
        d->Show();
        d->destroy();
    } else {
        FLASH_("a\r\nb\r\n", 65535, "SQLError.LOG");
    }
    auto o = xbp::New<XbpDialog>(xpp::Args{NIL, NIL, Array{50, 50}, Array{200, 100}});
    o->create();
    return 0;
}
