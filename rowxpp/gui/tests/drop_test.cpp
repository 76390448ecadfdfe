// Drops of text and files into the single- and multi-line edits.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "drop_support.h"

namespace {

// Drag data that notes which formats were asked for, answering through the
// runtime's drag data.
class NotingData : public xpp::Object {
public:
    static xpp::Class& ClassObject() {
        static xpp::ClassSlot slot;
        return slot.Get("NotingData", nullptr, [](xpp::Class& c) {
            c.AddMessage("GetFormats", [](xpp::Object& self, Args&) -> Value {
                return static_cast<NotingData&>(self).data->GetFormats();
            });
            c.AddMessage("GetData", [](xpp::Object& self, Args& a) -> Value {
                auto& me = static_cast<NotingData&>(self);
                me.asked.push_back(a.Get(1).Int());
                return me.data->GetData(static_cast<int>(a.Get(1).Int()));
            });
        });
    }
    xpp::Class& classObject() const override { return ClassObject(); }
    std::shared_ptr<xbp::DragData> data;
    std::vector<int64_t> asked;
};

std::shared_ptr<NotingData> Noting(std::optional<std::string> text, std::vector<std::string> files) {
    NotingData::ClassObject();
    auto d = std::make_shared<NotingData>();
    d->data = xbp::DragData::New(std::move(text), std::move(files));
    return d;
}

}  // namespace

TEST_F(DropFiles, WhatADropYields) {
    struct Case {
        const char* name;
        std::optional<std::string> text;
        std::vector<std::string> files;
        int enter, drop;
        const char* inserted;  // into the multi-line edit "12|34"
    };
    const std::vector<Case> cases = {
        {"text only", "xy", {}, 1, 1, "12xy34"},
        {"a.TXT", std::nullopt, {Path("a.TXT")}, 1, 1, "12text of a34"},
        {"a.txt through b.lnk", std::nullopt, {Path("b.lnk")}, 1, 1, "12text of a34"},
        {"c.doc", std::nullopt, {Path("c.doc")}, 0, 0, "1234"},
        {"two text files, the first read", std::nullopt, {Path("second.txt"), Path("a.TXT")}, 1, 1,
         "12text of second34"},
        {"a document before a text file", std::nullopt, {Path("c.doc"), Path("a.TXT")}, 1, 1, "12text of a34"},
        {"an empty text file", std::nullopt, {Path("empty.txt")}, 1, 0, "1234"},
        {"a missing text file", std::nullopt, {Path("missing.txt")}, 1, 0, "1234"},
        {"a folder named .txt", std::nullopt, {Path("folder.txt")}, 1, 0, "1234"},
        {"a link to nothing", std::nullopt, {Path("nothing.lnk")}, 0, 0, "1234"},
        {"text and files", "xy", {Path("missing.txt")}, 1, 1, "12xy34"},
        {"empty text", "", {}, 1, 0, "1234"},
        {"neither format", std::nullopt, {}, 0, 0, "1234"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = Noting(c.text, c.files);
        auto mle = xbp::New<XbpMLE>();
        mle->SetText("1234", 2);
        auto sle = xbp::New<XbpSLE>();
        sle->SetText("1234");
        sle->SetMarked(2, 2);
        xpp::DosError(0);
        EXPECT_EQ(mle->DragEnter(Value(), Value(data)).Int(), c.enter);
        EXPECT_EQ(sle->DragEnter(Value(), Value(data)).Int(), c.enter);
        EXPECT_EQ(mle->DragDrop(Value(), Value(data)).Int(), c.drop);
        EXPECT_EQ(sle->DragDrop(Value(), Value(data)).Int(), c.drop);
        EXPECT_EQ(mle->EditBuffer().Str(), c.inserted);
        EXPECT_EQ(sle->EditBuffer().Str(), c.inserted);
        if (c.text) {
            EXPECT_EQ(std::count(data->asked.begin(), data->asked.end(), 15), 0) << "the files are never asked for";
            EXPECT_EQ(xpp::DosError(), 0) << "no dropped path was opened";
        }
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "b.lnk"));
}

TEST(SleDrop, TheMarkedRangeIsReplacedExactly) {
    struct Case {
        size_t from, to;
        const char* result;
    };
    const std::vector<Case> cases = {
        {0, 0, "xyABCDE"}, {2, 2, "ABxyCDE"}, {5, 5, "ABCDExy"}, {1, 3, "AxyDE"}, {0, 5, "xy"}};
    auto data = xbp::DragData::New(std::string("xy"), {});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        auto sle = xbp::New<XbpSLE>();
        sle->SetText("ABCDE");
        sle->SetMarked(c.from, c.to);
        EXPECT_EQ(sle->DragDrop(Value(), Value(data)).Int(), 1);
        EXPECT_EQ(sle->EditBuffer().Str(), c.result);
    }
}

TEST_F(DropFiles, DropsReachTheEditsOfAShownDialogThroughTheQueue) {
    auto dlg = xbp::New<XbpDialog>(Args{Value(), Value(), Array{0, 0}, Array{300, 200}});
    dlg->create();
    auto sle = xbp::New<XbpSLE>(Args{Value(dlg->drawingArea()), Value(), Array{10, 150}, Array{200, 20}});
    sle->create();
    auto mle = xbp::New<XbpMLE>(Args{Value(dlg->drawingArea()), Value(), Array{10, 10}, Array{200, 100}});
    mle->create();
    dlg->Show();
    auto deliver = [](int event, const std::shared_ptr<xbp::DragData>& data, const xbp::WindowRef& to) {
        xbp::PostAppEvent(event, Array{0, Array{1, 1}}, Value(data), Value(to));
        xpp::Ref mp1, mp2, oXbp;
        int e = xbp::AppEvent(mp1, mp2, oXbp);
        return oXbp.Get().As<xbp::Window>()->HandleEvent(e, mp1.Get(), mp2.Get());
    };
    auto text = xbp::DragData::New(std::string("xy"), {});
    sle->SetText("ABCDE");
    sle->SetMarked(2, 2);
    EXPECT_EQ(deliver(xbp::xbeP_DragDrop, text, sle).Int(), 1);
    EXPECT_EQ(sle->Text(), "ABxyCDE");
    sle->SetText("ABCDE");
    sle->SetMarked(1, 3);
    deliver(xbp::xbeP_DragDrop, text, sle);
    EXPECT_EQ(sle->Text(), "AxyDE");

    mle->SetText("one two", 4);
    auto link = xbp::DragData::New(std::nullopt, {Path("b.lnk")});
    EXPECT_EQ(deliver(xbp::xbeP_DragEnter, link, mle).Int(), 1);
    EXPECT_EQ(deliver(xbp::xbeP_DragDrop, link, mle).Int(), 1);
    EXPECT_EQ(mle->EditBuffer().Str(), "one text of atwo");
    auto doc = xbp::DragData::New(std::nullopt, {Path("c.doc")});
    EXPECT_EQ(deliver(xbp::xbeP_DragEnter, doc, mle).Int(), 0);
    EXPECT_EQ(deliver(xbp::xbeP_DragDrop, doc, mle).Int(), 0);
    EXPECT_EQ(mle->EditBuffer().Str(), "one text of atwo");
    dlg->destroy();
}
