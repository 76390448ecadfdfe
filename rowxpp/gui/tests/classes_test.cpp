// The class tree: names, superclasses, class objects made once (also when
// eight threads race on the first call), and what init hands on.
#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <thread>

#include "gui_test_support.h"

namespace {

struct Row {
    const char* name;
    const char* superclass;
    xpp::Class& (*classFunction)();
    // new(args) and the new object's INIT sent once more with `again`.
    std::function<std::shared_ptr<xpp::Object>(Args)> make;
    std::function<Value(xpp::Object&, Args&)> init;
};

template <class T>
Row RowOf(const char* name, const char* superclass, xpp::Class& (*fn)()) {
    return Row{name, superclass, fn, [](Args a) -> std::shared_ptr<xpp::Object> { return xbp::New<T>(a); },
               [](xpp::Object& o, Args& a) { return dynamic_cast<T&>(o).INIT(a); }};
}

const std::vector<Row>& ForwardingRows() {
    static const std::vector<Row> rows = {
        RowOf<XbpCombobox>("XbpCombobox", "XbpBaseCombobox", XBPCOMBOBOX),
        RowOf<XbpListBox>("XbpListBox", "XbpBaseListBox", XBPLISTBOX),
        RowOf<XbpPushButton>("XbpPushButton", "XbpBasePushButton", XBPPUSHBUTTON),
        RowOf<XbpSpinButton>("XbpSpinButton", "XbpBaseSpinbutton", XBPSPINBUTTON),
        RowOf<XbpMenuBar>("XbpMenuBar", "XbpBaseMenubar", XBPMENUBAR),
        RowOf<XbpMenu>("XbpMenu", "XbpBaseMenu", XBPMENU),
        RowOf<XbpSLE>("XbpSLE", "XbpBaseSLE", XBPSLE),
        RowOf<XbpMLE>("XbpMLE", "XbpBaseMLE", XBPMLE),
        RowOf<XbpTreeView>("XbpTreeView", "XbpBaseTreeView", XBPTREEVIEW),
        RowOf<XbpTreeViewItem>("XbpTreeViewItem", "XbpBaseTreeViewItem", XBPTREEVIEWITEM),
        RowOf<Xbp3State>("Xbp3State", "XbpBase3State", XBP3STATE),
        RowOf<XbpTabPage>("XbpTabPage", "XbpBaseTabPage", XBPTABPAGE),
        RowOf<XbpScrollBar>("XbpScrollBar", "XbpBaseScrollBar", XBPSCROLLBAR),
        RowOf<XbpCheckBox>("XbpCheckBox", "XbpBaseCheckBox", XBPCHECKBOX),
        RowOf<XbpRadioButton>("XbpRadioButton", "XbpBaseRadioButton", XBPRADIOBUTTON),
        RowOf<XbpStatic>("XbpStatic", "XbpBaseStatic", XBPSTATIC),
        RowOf<XbpPresSpace>("XbpPresSpace", "XbpBasePresSpace", XBPPRESSPACE),
    };
    return rows;
}

struct ClassRow {
    const char* name;
    const char* superclass;
    xpp::Class& (*classFunction)();
};

std::vector<ClassRow> AllClasses() {
    std::vector<ClassRow> all = {{"XbpDialog", "XbpBaseDialog", XBPDIALOG}, {"XbpCrt", "XbpBaseCrt", XBPCRT}};
    for (auto& r : ForwardingRows()) all.push_back({r.name, r.superclass, r.classFunction});
    return all;
}

// The journal's base init calls received by `self`.
std::vector<xt::Call> InitsOf(const std::string& base, const xpp::Object* self) {
    std::vector<xt::Call> out;
    for (auto& c : xt::Journal())
        if (c.what == base + ":init" && c.self.lock().get() == self) out.push_back(c);
    return out;
}

// The journal's initClass calls made for `cls`.
int InitClassesOf(const std::string& base, const xpp::Class& cls) {
    int n = 0;
    for (auto& c : xt::Journal())
        if (c.what == base + ":initClass" && c.self.lock().get() == &cls) ++n;
    return n;
}

std::string Show(const Args& a) {
    std::string s = std::to_string(a.PCount()) + ":";
    for (size_t i = 1; i <= a.PCount(); ++i) s += " " + xpp::Var2Char(a.Get(i));
    return s;
}

// Races eight threads on the first call of every class function; exits 0
// when each class came out once, with one INITCLASS, the same to all.
void RaceOnTheFirstCalls() {
    for (const ClassRow& row : AllClasses()) {
        std::latch start(8);
        std::vector<xpp::Class*> got(8, nullptr);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < 8; ++t)
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                got[t] = &row.classFunction();
            });
        for (auto& t : threads) t.join();
        for (auto* c : got)
            if (c != got[0]) {
                std::fprintf(stderr, "%s: two class objects\n", row.name);
                std::exit(1);
            }
        if (InitClassesOf(row.superclass, *got[0]) != 1) {
            std::fprintf(stderr, "%s: INITCLASS ran %d times\n", row.name, InitClassesOf(row.superclass, *got[0]));
            std::exit(1);
        }
        // the superclass's own initialisation ran once too
        if (InitClassesOf(row.superclass, *got[0]->Parent()) != 1) {
            std::fprintf(stderr, "%s: the superclass initialised %d times\n", row.name,
                         InitClassesOf(row.superclass, *got[0]->Parent()));
            std::exit(1);
        }
    }
    std::exit(0);
}

}  // namespace

TEST(GuiClasses, EveryClassHasItsNameAndSuperclassAndOneClassObject) {
    for (const ClassRow& row : AllClasses()) {
        SCOPED_TRACE(row.name);
        xpp::Class& c = row.classFunction();
        EXPECT_EQ(c.Name(), row.name);
        ASSERT_NE(c.Parent(), nullptr);
        EXPECT_EQ(c.Parent()->Name(), row.superclass);
        EXPECT_EQ(&row.classFunction(), &c);
        xt::ClearJournal();
        row.classFunction();
        EXPECT_EQ(InitClassesOf(row.superclass, c), 0) << "INITCLASS ran again";
    }
}

TEST(GuiClasses, EightThreadsRacingOnTheFirstCallGetOneClassInitialisedOnce) {
    // A process of its own, so that every class function is called for the
    // first time there, whatever ran before in this one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RaceOnTheFirstCalls(), ::testing::ExitedWithCode(0), "");
}

TEST(GuiClasses, ForwardingInitHandsOnTheExactArgumentsAndAnswersSelf) {
    for (const Row& row : ForwardingRows()) {
        SCOPED_TRACE(row.name);
        xt::ClearJournal();
        auto none = row.make(Args{});
        auto three = row.make(Args{"a", 2, Value()});
        auto inits = InitsOf(row.superclass, none.get());
        ASSERT_EQ(inits.size(), 1u);
        EXPECT_EQ(Show(inits[0].args), "0:");
        inits = InitsOf(row.superclass, three.get());
        ASSERT_EQ(inits.size(), 1u);
        EXPECT_EQ(Show(inits[0].args), "3: a 2 NIL");
        // INIT answers the object itself (the base init answers nothing)
        Args again{Value(), Value()};
        Value self = row.init(*three, again);
        EXPECT_EQ(self.Obj(), three);
        inits = InitsOf(row.superclass, three.get());
        ASSERT_EQ(inits.size(), 2u);
        EXPECT_EQ(Show(inits[1].args), "2: NIL NIL");
        EXPECT_TRUE(three->isDerivedFrom(row.name));
        EXPECT_TRUE(three->isDerivedFrom(row.superclass));
    }
}

TEST(GuiClasses, DialogAndCrtHandOnSixAndSevenArgumentsAndStartModeless) {
    xt::ClearJournal();
    auto dlg = xbp::New<XbpDialog>(Args{Value(), Value(), Array{1, 2}, Array{300, 200}, "e", false, "g"});
    auto inits = InitsOf("XbpBaseDialog", dlg.get());
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(Show(inits[0].args), "6: NIL NIL {1, 2} {300, 200} e .F.");
    EXPECT_TRUE(xpp::ExactEq(dlg->ModalResult, 0));
    EXPECT_TRUE(xpp::ExactEq(dlg->IsModal, false));

    auto two = xbp::New<XbpDialog>(Args{Value(), Value()});
    inits = InitsOf("XbpBaseDialog", two.get());
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(Show(inits[0].args), "6: NIL NIL NIL NIL NIL NIL");

    auto crt = xbp::New<XbpCrt>();
    inits = InitsOf("XbpBaseCrt", crt.get());
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(Show(inits[0].args), "7: NIL NIL NIL NIL NIL NIL NIL");
    EXPECT_TRUE(xpp::ExactEq(crt->ModalResult, 0));
    EXPECT_TRUE(xpp::ExactEq(crt->IsModal, false));

    // Init again after a run left other values: back to modeless, self answered
    dlg->ModalResult = "OK";
    dlg->IsModal = true;
    Args again{};
    EXPECT_EQ(dlg->Init(again).Obj(), dlg);
    EXPECT_TRUE(xpp::ExactEq(dlg->ModalResult, 0));
    EXPECT_TRUE(xpp::ExactEq(dlg->IsModal, false));
}

TEST(GuiClasses, AnApplicationsSubclassIsADialogAndTheBaseClassesAreNot) {
    auto app = xbp::New<ScriptDialog>();
    EXPECT_TRUE(app->isDerivedFrom("XbpDialog"));
    EXPECT_TRUE(app->isDerivedFrom("xbpdialog"));
    EXPECT_TRUE(app->isDerivedFrom("XbpBaseDialog"));
    EXPECT_FALSE(app->isDerivedFrom("XbpCrt"));
    auto base = xbp::New<xbp::XbpBaseDialog>();
    EXPECT_FALSE(base->isDerivedFrom("XbpDialog"));
    EXPECT_TRUE(xbp::New<XbpCrt>()->isDerivedFrom("XbpCrt"));
}

TEST(GuiClasses, ACrtTakesItsPresentationSpaceOfThisLibrarysClass) {
    XBPPRESSPACE();
    auto crt = xbp::New<XbpCrt>();
    crt->create();
    auto ps = crt->presSpace();
    ASSERT_NE(ps, nullptr);
    EXPECT_TRUE(ps->isDerivedFrom("XbpPresSpace"));
    EXPECT_NE(std::dynamic_pointer_cast<XbpPresSpace>(ps), nullptr);
}

// Messages programs send by name, in any case: each answers what the C++
// member answers ("_" + name assigns).
TEST(GuiClasses, MessagesSentByNameAnswerAsTheDirectCalls) {
    auto dlg = xbp::New<XbpDialog>(Args{Value(), Value(), Array{10, 20}, Array{300, 200}});
    dlg->create();
    auto crt = xbp::New<XbpCrt>();
    crt->create();
    auto menu = xbp::New<XbpMenu>();
    menu->title = "~File";
    auto drag = xbp::DragData::New(std::string("text"), {"/tmp/a.txt"});
    const Value d(dlg), c(crt), m(menu), g(drag);
    struct Case {
        const char* what;
        std::function<Value()> sent, direct;
    };
    const std::vector<Case> cases = {
        {"CurrentSize", [&] { return xpp::Send(d, "cURRENTsIZE"); }, [&] { return Value(dlg->CurrentSize()); }},
        {"MapPoint", [&] { return xpp::Send(d, "mappoint", Args{Value(), Array{3, 4}}); },
         [&] { return Value(dlg->MapPoint(Value(), Array{3, 4})); }},
        {"SetParent", [&] { return xpp::Send(d, "SETPARENT"); }, [&] { return dlg->SetParent(); }},
        {"HandleEvent", [&] { return xpp::Send(c, "handleEvent", Args{1049998, 1, 2}); },
         [&] { return crt->HandleEvent(1049998, 1, 2); }},
        {"SetPos", [&] { return xpp::Send(d, "setPos", Args{Array{15, 25}}); },
         [&] { return Value(dlg->SetPos(Array{15, 25})); }},
        {"IsModal", [&] { return xpp::Send(d, "ismodal"); }, [&] { return dlg->IsModal; }},
        {"_ModalResult", [&] { return xpp::Send(c, "_MODALRESULT", Args{7}); }, [&] { return crt->ModalResult; }},
        {"ModalResult", [&] { return xpp::Send(c, "modalresult"); }, [&] { return Value(7); }},
        {"presSpace", [&] { return xpp::Send(c, "PRESSPACE"); }, [&] { return Value(crt->presSpace()); }},
        {"InvalidateRect", [&] { return xpp::Send(c, "invalidaterect", Args{Array{0, 0, 8, 8}}); },
         [&] { return Value(crt->InvalidateRect(Array{0, 0, 8, 8})); }},
        {"title", [&] { return xpp::Send(m, "TITLE"); }, [&] { return menu->title; }},
        {"_title", [&] { return xpp::Send(m, "_Title", Args{"~Edit"}); }, [&] { return menu->title; }},
        {"GetFormats", [&] { return xpp::Send(g, "getformats"); }, [&] { return Value(drag->GetFormats()); }},
        {"GetData", [&] { return xpp::Send(g, "GETDATA", Args{1}); }, [&] { return drag->GetData(1); }},
    };
    for (const Case& k : cases) {
        const Value sent = k.sent();
        EXPECT_EQ(xpp::Var2Char(sent), xpp::Var2Char(k.direct())) << k.what;
        if (sent.IsObject()) {
            EXPECT_EQ(sent.Obj(), k.direct().Obj()) << k.what;
        }
    }
    EXPECT_EQ(xpp::Var2Char(dlg->CurrentPos()), xpp::Var2Char(Array{15, 25}));
    EXPECT_EQ(menu->title.Str(), "~Edit");
}
