// Class objects, class variables, isDerivedFrom, sends by name and SYNC.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <thread>
#include <vector>

#include "xpp/xpp.h"

using namespace xpp;

namespace {

std::atomic<int> g_parentInits{0};
std::atomic<int> g_childInits{0};

// A library class with a per-class and a shared class variable, and a
// subclass that sets both in its class initialisation.
class Parent : public Object {
public:
    static Class& ClassObject() {
        static ClassSlot slot;
        return slot.Get("Parent", nullptr, [](Class& c) {
            ++g_parentInits;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // widen the race
            c.AddClassVar("Module", "BASE");
            c.AddSharedVar("Shared", 1);
            c.AddMessage("commit", [](Object& self, Args& a) -> Value {
                static_cast<Parent&>(self).commits += static_cast<int>(a.PCount()) + 1;
                return true;
            });
        });
    }
    Class& classObject() const override { return ClassObject(); }
    int commits = 0;
};

class Child : public Parent {
public:
    static Class& ClassObject() {
        static ClassSlot slot;
        return slot.Get("Child", &Parent::ClassObject(), [](Class& c) {
            ++g_childInits;
            c.SetVar("module", "XBP");
            c.SetVar("SHARED", 2);
        });
    }
    Class& classObject() const override { return ClassObject(); }
};

// A program's own subclass of the library's class.
class ProgramChild : public Child {
public:
    static Class& ClassObject() {
        static ClassSlot slot;
        return slot.Get("ProgramChild", &Child::ClassObject());
    }
    Class& classObject() const override { return ClassObject(); }
};

class Unrelated : public Object {
public:
    static Class& ClassObject() {
        static ClassSlot slot;
        return slot.Get("Unrelated", nullptr);
    }
    Class& classObject() const override { return ClassObject(); }
};

int64_t GenCodeOf(const std::function<void()>& fn) {
    Block old = ErrorBlock(Block([](Args& a) -> Value { Break(a.Get(1)); }));
    int64_t code = 0;
    Sequence(fn, [&](const Value& v) {
        if (auto e = v.As<Error>()) code = e->genCode.Int();
    });
    ErrorBlock(old);
    return code;
}

TEST(Classes, EightThreadsMakeOneClassObjectAndInitialiseItOnce) {
    std::latch start(8);
    std::vector<Class*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[static_cast<size_t>(i)] = &Child::ClassObject();
        });
    for (auto& t : threads) t.join();
    for (Class* c : seen) EXPECT_EQ(c, seen[0]);
    EXPECT_EQ(g_parentInits.load(), 1);
    EXPECT_EQ(g_childInits.load(), 1);
    EXPECT_EQ(seen[0]->Parent(), &Parent::ClassObject());
}

TEST(Classes, PerClassAndSharedClassVariables) {
    Class& child = Child::ClassObject();
    Class& parent = Parent::ClassObject();
    EXPECT_EQ(parent.Var("Module").Str(), "BASE");  // the subclass's assignment left it alone
    EXPECT_EQ(child.Var("MODULE").Str(), "XBP");
    EXPECT_EQ(parent.Var("shared").Int(), 2);       // one value for the family
    // a sub-subclass starts with its parent's value, then holds its own
    Class& program = ProgramChild::ClassObject();
    EXPECT_EQ(program.Var("module").Str(), "XBP");
    program.SetVar("module", "PRG");
    EXPECT_EQ(child.Var("module").Str(), "XBP");
    program.SetVar("shared", 3);
    EXPECT_EQ(parent.Var("shared").Int(), 3);
    EXPECT_EQ(GenCodeOf([&] { parent.Var("nosuch"); }), EG_NOVAR);
}

// A handle reads what a search by name reads: after assignments through
// any class of the family, after the variable is added anew, and for a
// second class it is used with.
TEST(Classes, VariableHandlesReadWhatTheNameReads) {
    static ClassSlot slot;
    Class& cls = slot.Get("HandleHolder", nullptr, [](Class& c) {
        c.AddClassVar("Flag", true);
        c.AddSharedVar("Family", false);
    });
    static ClassSlot childSlot;
    Class& child = childSlot.Get("HandleChild", &cls);
    Class::VarHandle flag("flag"), family("FAMILY"), missing("NoSuch");
    EXPECT_TRUE(cls.VarLog(flag));
    EXPECT_TRUE(cls.Var(flag).Log());
    cls.SetVar("FLAG", false);
    EXPECT_FALSE(cls.VarLog(flag));
    EXPECT_FALSE(cls.Var(flag).Log());
    // a shared variable assigned through the subclass
    EXPECT_FALSE(cls.VarLog(family));
    child.SetVar("family", true);
    EXPECT_TRUE(cls.VarLog(family));
    // made anew under the same name
    cls.AddClassVar("Flag", "text");
    EXPECT_EQ(cls.Var(flag).Str(), "text");
    EXPECT_FALSE(cls.VarLog(flag));
    cls.AddClassVar("Flag", true);
    EXPECT_TRUE(cls.VarLog(flag));
    // the subclass holds its own copy of the per-class variable: a handle
    // first used with one class reads the other by name
    child.SetVar("flag", false);
    EXPECT_FALSE(child.VarLog(flag));
    EXPECT_TRUE(cls.VarLog(flag));
    EXPECT_EQ(child.Var(flag).Str(), child.Var("flag").Str());
    EXPECT_EQ(GenCodeOf([&] { cls.Var(missing); }), EG_NOVAR);
    EXPECT_EQ(GenCodeOf([&] { cls.VarLog(missing); }), EG_NOVAR);
}

// Threads reading a logical class variable through one handle while
// another assigns it see each value it takes, and the last one at the end.
TEST(Classes, AVariableHandleFollowsAssignmentsFromOtherThreads) {
    static ClassSlot slot;
    Class& cls = slot.Get("HandleThreads", nullptr, [](Class& c) { c.AddClassVar("On", false); });
    Class::VarHandle on("On");
    std::atomic<bool> done{false};
    std::atomic<int> trues{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!done) trues += cls.VarLog(on) ? 1 : 0;
        });
    for (int i = 0; i < 2000; ++i) cls.SetVar("On", i % 2 == 0);
    cls.SetVar("On", true);
    while (trues == 0) std::this_thread::yield();
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_TRUE(cls.VarLog(on));
    cls.SetVar("On", false);
    EXPECT_FALSE(cls.VarLog(on));
}

TEST(Classes, LongNamesAreFoundWhateverTheirCase) {
    static ClassSlot slot;
    const std::string name(70, 'v');
    Class& cls = slot.Get("LongNames", nullptr, [&](Class& c) {
        c.AddClassVar(name + "Var", 1);
        c.AddMessage(name + "Msg", [](Object&, Args&) { return Value("answered"); });
    });
    std::string upper(70, 'V');
    EXPECT_TRUE(cls.HasVar(upper + "VAR"));
    cls.SetVar(upper + "var", 2);
    EXPECT_EQ(cls.Var(name + "VAR").Int(), 2);
    EXPECT_FALSE(cls.HasVar(upper));
    ASSERT_NE(cls.FindMessage(upper + "msg"), nullptr);
    EXPECT_EQ(cls.FindMessage(upper + "MS"), nullptr);
}

TEST(Classes, IsDerivedFromThroughTheWholeAncestry) {
    auto obj = std::make_shared<ProgramChild>();
    EXPECT_EQ(obj->className(), "ProgramChild");
    EXPECT_TRUE(obj->isDerivedFrom("parent"));
    EXPECT_TRUE(obj->isDerivedFrom("CHILD"));
    EXPECT_TRUE(obj->isDerivedFrom("ProgramChild"));
    EXPECT_FALSE(obj->isDerivedFrom("Unrelated"));
    EXPECT_TRUE(obj->isDerivedFrom(Parent::ClassObject()));
    EXPECT_FALSE(obj->isDerivedFrom(Unrelated::ClassObject()));
    Value classValue = std::static_pointer_cast<Class>(Parent::ClassObject().shared_from_this());
    EXPECT_EQ(classValue.Type(), 'O');
    EXPECT_TRUE(obj->isDerivedFrom(classValue));
    EXPECT_TRUE(obj->isDerivedFrom(Value("Child")));
    EXPECT_FALSE(obj->isDerivedFrom(Value(5)));
    auto parent = std::make_shared<Parent>();
    EXPECT_FALSE(parent->isDerivedFrom("Child"));
}

TEST(Classes, SendsByNameWithoutRegardToCase) {
    auto obj = std::make_shared<Child>();
    Value held = obj;  // an object held as a field value
    EXPECT_TRUE(Send(held, "COMMIT").Log());
    EXPECT_TRUE(Send(held, "Commit", {1, 2}).Log());
    EXPECT_EQ(obj->commits, 1 + 3);
    EXPECT_EQ(GenCodeOf([&] { Send(held, "rollback"); }), EG_NOMETHOD);
    EXPECT_EQ(GenCodeOf([] { Send(Value(), "commit"); }), EG_NOMETHOD);
}

TEST(Sync, BreakInsideASyncMethodUnwindsAndFreesTheObject) {
    auto obj = std::make_shared<Parent>();
    std::string recovered;
    Sequence(
        [&] {
            Sync guard(*obj);
            Sync again(*obj);  // re-entrant within the thread
            Break("left");
        },
        [&](const Value& v) { recovered = v.Str(); });
    EXPECT_EQ(recovered, "left");
    auto other = std::async(std::launch::async, [&] {
        Sync guard(*obj);
        Sync onClass(Parent::ClassObject());
        return true;
    });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(other.get());
}

TEST(Sync, ASyncMethodKeepsOtherThreadsOut) {
    auto obj = std::make_shared<Parent>();
    std::atomic<bool> inside{false};
    std::atomic<bool> overlap{false};
    auto method = [&] {
        Sync guard(*obj);
        if (inside.exchange(true)) overlap = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        inside = false;
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 10; ++k) method();
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap.load());
}

}  // namespace

namespace {

// An object that counts its lives.
std::atomic<int> g_counted{0};
class Counted : public Object {
public:
    Counted() { ++g_counted; }
    ~Counted() override {
        alive = false;
        --g_counted;
    }
    static Class& ClassObject() {
        static ClassSlot slot;
        return slot.Get("Counted", nullptr);
    }
    Class& classObject() const override { return ClassObject(); }
    std::atomic<bool> alive{true};
};

}  // namespace

TEST(ObjectValues, AValueKeepsItsObjectUntilTheLastCopyGoes) {
    ASSERT_EQ(g_counted.load(), 0);
    Value held;
    const void* identity = nullptr;
    {
        auto made = std::make_shared<Counted>();
        identity = made.get();
        held = Value(made);
    }
    EXPECT_EQ(g_counted.load(), 1) << "only a value holds it now";
    EXPECT_EQ(held.Identity(), identity);
    EXPECT_EQ(held.As<Counted>().get(), identity);
    Value copy = held;
    Value moved = std::move(held);
    EXPECT_TRUE(held.IsNil());  // NOLINT: what a move leaves is read on purpose
    moved = Value();
    EXPECT_EQ(g_counted.load(), 1) << "the copy still holds it";
    {
        // a value made again from a reference while values hold it
        ObjectRef again = copy.Obj();
        Value second(again);
        EXPECT_EQ(second.Identity(), identity);
    }
    copy = Value(5);
    EXPECT_EQ(g_counted.load(), 0) << "the last value let it go";

    // an array holding the only reference frees it with the array
    {
        Array list{Value(std::make_shared<Counted>()), Value(std::make_shared<Counted>())};
        EXPECT_EQ(g_counted.load(), 2);
        list.Remove(1);
        EXPECT_EQ(g_counted.load(), 1);
    }
    EXPECT_EQ(g_counted.load(), 0);
}

// Values of one object made, copied and let go from many threads at once,
// the count crossing zero all the time: the object lives while anything
// holds it and goes exactly once.
TEST(ObjectValues, ValuesOfOneObjectComeAndGoOnManyThreads) {
    ASSERT_EQ(g_counted.load(), 0);
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    Value shared;  // read by every thread, set before they start
    {
        auto object = std::make_shared<Counted>();
        shared = Value(object);
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        std::atomic<int> seenDead{0};
        for (int t = 0; t < kThreads; ++t) {
            // half the threads hold a reference of their own and make values
            // from it (the first holder's arrival); the others copy the shared
            // value (a holder among others)
            ObjectRef own = t % 2 == 0 ? ObjectRef(object) : nullptr;
            threads.emplace_back([&, own, t] {
                start.arrive_and_wait();
                for (int i = 0; i < kRounds; ++i) {
                    Value v = own ? Value(own) : (t == 1 && i % 100 == 0 ? Value() : shared);
                    Value w = v;
                    if (auto c = w.As<Counted>(); c && !c->alive) ++seenDead;
                }
            });
        }
        // meanwhile this thread takes copies and lets them go too (the
        // shared variable itself is only read while the threads run: a
        // variable written on one thread and read on another is a race of
        // the program, not of the values)
        for (int i = 0; i < 1000; ++i) {
            Value keep = shared;
            Value again = keep;
            keep = Value();
        }
        for (auto& th : threads) th.join();
        EXPECT_EQ(seenDead.load(), 0);
        EXPECT_EQ(g_counted.load(), 1);
    }
    EXPECT_EQ(g_counted.load(), 1) << "the shared value still holds it";
    shared = Value();
    EXPECT_EQ(g_counted.load(), 0);
}

// Threads that each hold a reference of their own make values from it and
// let them go, so the count of values crosses zero all the time; in the
// end they hold the object through values only. A value always reaches
// its object, and the object goes once the last holder of either kind is
// gone.
TEST(ObjectValues, TheLastHolderOfEitherKindFreesTheObject) {
    ASSERT_EQ(g_counted.load(), 0);
    std::atomic<int> lost{0};
    for (int round = 0; round < 100; ++round) {
        auto object = std::make_shared<Counted>();
        std::latch start(4);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([own = ObjectRef(object), &start, &lost]() mutable {
                start.arrive_and_wait();
                for (int i = 0; i < 5000; ++i) {
                    Value v(own);
                    if (!v.As<Counted>()) ++lost;
                }
                Value v(own);
                own.reset();
                for (int i = 0; i < 50; ++i) {
                    Value w = v;
                    v = w;
                    if (!w.As<Counted>()) ++lost;
                }
            });
        }
        object.reset();
        for (auto& th : threads) th.join();
        ASSERT_EQ(g_counted.load(), 0) << "round " << round;
    }
    EXPECT_EQ(lost.load(), 0);
}
