// Drops into the edit controls: dropped text, or the text of the first
// ".TXT" file among dropped files, ".LNK" links followed.

#include "rowxpp/gui.h"
#include "xpp/files.h"

namespace rowxpp {

namespace {

constexpr int kTextFormat = xbp::XBPCLPBRD_TEXT;
constexpr int kFileFormat = xbp::XBPCLPBRD_FILELIST;

// oData:GetFormats / oData:GetData(n): the runtime's drag data directly,
// any other object by message.
xpp::Value Formats(const xpp::Value& oData) {
    if (auto d = oData.As<xbp::DragData>()) return d->GetFormats();
    return xpp::Send(oData, "GetFormats");
}
xpp::Value Data(const xpp::Value& oData, int format) {
    if (auto d = oData.As<xbp::DragData>()) return d->GetData(format);
    return xpp::Send(oData, "GetData", xpp::Args{format});
}

// Whether a format entry {n, ...} is format n.
bool Offers(const xpp::Value& formats, int format) {
    if (!formats.IsArray()) return false;
    xpp::Block test([format](xpp::Args& a) -> xpp::Value {
        xpp::Value entry = a.Get(1);
        return entry.IsArray() && entry.Arr().Len() >= 1 && entry.Arr().Get(1).IsNum() &&
               entry.Arr().Get(1).Int() == format;
    });
    return xpp::AScan(formats.Arr(), test) != 0;
}

bool EndsIn(const xpp::Value& path, const char* extension) {
    return path.IsChar() && xpp::Upper(xpp::Right(path.Str(), 4)) == extension;
}

// The dropped paths with ".LNK" paths resolved in place.
xpp::Array DroppedFiles(const xpp::Value& oData) {
    xpp::Value files = Data(oData, kFileFormat);
    if (!files.IsArray()) return xpp::Array();
    xpp::Block resolve([](xpp::Args& a) -> xpp::Value {
        if (EndsIn(a.Get(1), ".LNK")) a.Put(1, xpp::ShellLinkResolve(a.Get(1).Str()));
        return xpp::Value();
    });
    return xpp::AEval(files.Arr(), resolve, 1, SIZE_MAX, true);
}

size_t FirstTextFile(const xpp::Array& files) {
    return xpp::AScan(files, xpp::Block([](xpp::Args& a) -> xpp::Value { return EndsIn(a.Get(1), ".TXT"); }));
}

}  // namespace

xpp::Value DropAcceptable(const xpp::Value& oData) {
    xpp::Value formats = Formats(oData);
    if (Offers(formats, kTextFormat)) return 1;
    if (Offers(formats, kFileFormat) && FirstTextFile(DroppedFiles(oData)) != 0) return 1;
    return 0;
}

xpp::Value DroppedText(const xpp::Value& oData) {
    xpp::Value formats = Formats(oData);
    if (Offers(formats, kTextFormat)) return Data(oData, kTextFormat);
    // neither text nor files: nothing to take
    if (!Offers(formats, kFileFormat)) return xpp::Value();
    xpp::Array files = DroppedFiles(oData);
    size_t pos = FirstTextFile(files);
    if (pos == 0) return xpp::Value();
    int64_t handle = xpp::FOpen(files.Get(pos).Str(), 0);
    if (handle == -1) return xpp::Value();
    xpp::Value text = xpp::FReadStr(handle, xpp::FSize(handle));
    xpp::FClose(handle);
    return text;
}

xpp::Value XbpSLE::DragEnter(const xpp::Value&, const xpp::Value& oData) { return DropAcceptable(oData); }
xpp::Value XbpMLE::DragEnter(const xpp::Value&, const xpp::Value& oData) { return DropAcceptable(oData); }

xpp::Value XbpSLE::DragDrop(const xpp::Value&, const xpp::Value& oData) {
    xpp::Value cText = DroppedText(oData);
    if (xpp::Empty(cText) || !cText.IsChar()) return 0;
    // the marked range {characters before it, characters up to its end}
    // is replaced by the text; with nothing marked it goes in at the caret
    xpp::Array marked = QueryMarked();
    std::string buffer = EditBuffer().Str();
    int64_t from = marked.Get(1).Int(), to = marked.Get(2).Int();
    SetData(xpp::Left(buffer, from) + cText.Str() + xpp::SubStr(buffer, to + 1));
    return 1;
}

xpp::Value XbpMLE::DragDrop(const xpp::Value&, const xpp::Value& oData) {
    xpp::Value cText = DroppedText(oData);
    if (xpp::Empty(cText) || !cText.IsChar()) return 0;
    Insert(xpp::Value(), cText.Str());
    return 1;
}

}  // namespace rowxpp
