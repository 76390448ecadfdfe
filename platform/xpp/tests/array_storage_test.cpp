// Arrays whose elements live in their header's block (made with their
// size, or by a batch): every change of length keeps the elements, made
// arrays outlive their batch, and copies of a character value stay
// independent.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "xpp/xpp.h"

using namespace xpp;

namespace {

std::vector<int64_t> Numbers(const Array& a) {
    std::vector<int64_t> out;
    for (const Value& v : a.Items()) out.push_back(v.IsNil() ? -1 : v.Int());
    return out;
}

Array Made(const std::string& how, ArrayBatch& batch) {
    std::vector<Value> items{1, 2, 3};
    if (how == "size") {
        Array a(size_t{3});
        for (size_t i = 1; i <= 3; ++i) a.Set(i, static_cast<int64_t>(i));
        return a;
    }
    if (how == "list") return Array{1, 2, 3};
    if (how == "take") return Array::Take(items);
    if (how == "vector") return Array(items);
    // a batch makes its first arrays as usual: these come from a block
    for (int i = 0; i < 100; ++i) {
        std::vector<Value> filler{0};
        batch.Take(filler);
    }
    return batch.Take(items);
}

// Each change, on each kind of array, against a vector doing the same.
TEST(ArrayStorage, ChangesKeepTheElementsWhateverTheStorage) {
    struct Step {
        const char* name;
        std::function<void(const Array&)> change;
        std::function<void(std::vector<int64_t>&)> model;
    };
    const std::vector<Step> steps = {
        {"add within and past the room", [](const Array& a) { for (int i = 4; i <= 9; ++i) a.Add(i); },
         [](std::vector<int64_t>& m) { for (int i = 4; i <= 9; ++i) m.push_back(i); }},
        {"insert first", [](const Array& a) { a.InsertAt(1, 0); }, [](std::vector<int64_t>& m) { m.insert(m.begin(), 0); }},
        {"insert in the middle", [](const Array& a) { a.InsertAt(2, 7); },
         [](std::vector<int64_t>& m) { m.insert(m.begin() + 1, 7); }},
        {"insert past the end", [](const Array& a) { a.InsertAt(99, 8); }, [](std::vector<int64_t>& m) { m.push_back(8); }},
        {"remove first", [](const Array& a) { a.Remove(1); }, [](std::vector<int64_t>& m) { m.erase(m.begin()); }},
        {"remove the third", [](const Array& a) { a.Remove(3); },
         [](std::vector<int64_t>& m) { if (m.size() >= 3) m.erase(m.begin() + 2); }},
        {"shrink", [](const Array& a) { a.Resize(1); }, [](std::vector<int64_t>& m) { m.resize(1); }},
        {"shrink then grow within the room", [](const Array& a) { a.Resize(1); a.Resize(3); },
         [](std::vector<int64_t>& m) { m.resize(1); m.resize(3, -1); }},
        {"grow past the room", [](const Array& a) { a.Resize(40); },
         [](std::vector<int64_t>& m) { m.resize(40, -1); }},
        {"assign", [](const Array& a) { a.Assign({Value(5), Value(6)}); }, [](std::vector<int64_t>& m) { m = {5, 6}; }},
        {"clear then add", [](const Array& a) { a.Clear(); a.Add(4); }, [](std::vector<int64_t>& m) { m = {4}; }},
        {"fill", [](const Array& a) { a.Fill(9); }, [](std::vector<int64_t>& m) { std::fill(m.begin(), m.end(), 9); }},
        {"set many, one out of range", [](const Array& a) {
             std::vector<std::pair<size_t, Value>> pairs;
             pairs.emplace_back(3, 30);
             pairs.emplace_back(1, 10);
             Block old = ErrorBlock(Block([](Args&) { return Value(); }));
             pairs.emplace_back(4, 40);
             a.SetMany(pairs);
             ErrorBlock(old);
         },
         [](std::vector<int64_t>& m) { m[2] = 30; m[0] = 10; }},
    };
    for (const char* how : {"size", "list", "take", "vector", "batch"}) {
        for (const Step& step : steps) {
            ArrayBatch batch;
            Array a = Made(how, batch);
            Array same = a;
            std::vector<int64_t> model{1, 2, 3};
            step.change(a);
            step.model(model);
            EXPECT_EQ(Numbers(a), model) << how << ": " << step.name;
            EXPECT_TRUE(same.Same(a)) << how << ": " << step.name;
            // a second round of the same change on the changed array
            step.change(a);
            step.model(model);
            EXPECT_EQ(Numbers(same), model) << how << ": " << step.name << ", twice";
        }
    }
}

TEST(ArrayStorage, VersionMovesWithEveryChangeOnly) {
    Array a{1, 2, 3};
    uint32_t v = a.Version();
    a.Get(2);
    a.Len();
    a.Items();
    EXPECT_EQ(a.Version(), v);
    const std::vector<std::function<void()>> changes = {
        [&] { a.Set(1, 5); },     [&] { a.Add(4); },         [&] { a.Resize(2); },
        [&] { a.Remove(1); },     [&] { a.InsertAt(1, 0); }, [&] { a.Fill(1); },
        [&] { a.Assign({Value(1)}); }, [&] { a.Clear(); },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        changes[i]();
        EXPECT_NE(a.Version(), v) << "change " << i;
        v = a.Version();
    }
}

// Arrays from a batch's blocks, the large ones among them, stay whole
// after the batch is gone and while others of their block are released.
TEST(ArrayStorage, BatchArraysOutliveTheBatchAndTheirNeighbours) {
    std::vector<Array> kept;
    {
        ArrayBatch batch;
        std::vector<Value> items;
        for (int64_t i = 0; i < 40000; ++i) {
            items = {i, std::string("text ") + std::to_string(i), Array{i}};
            kept.push_back(batch.Take(items));
        }
        EXPECT_TRUE(items.empty());
    }
    // every other one goes; some of the rest grow out of their room
    for (size_t i = 0; i < kept.size(); i += 2) kept[i] = Array();
    for (size_t i = 1; i < kept.size(); i += 20) kept[i].Add("more");
    for (size_t i = 1; i < kept.size(); i += 2) {
        ASSERT_EQ(kept[i].Get(1).Int(), static_cast<int64_t>(i));
        ASSERT_EQ(kept[i].Get(2).Str(), "text " + std::to_string(i));
        ASSERT_EQ(kept[i].Get(3).Arr().Get(1).Int(), static_cast<int64_t>(i));
    }
    EXPECT_EQ(kept[1].Len(), 4u);
    // released from another thread than the one that made them
    std::thread([&] { kept.clear(); }).join();
}

TEST(ArrayStorage, TakeFromMovesTheElementsAndLeavesRoom) {
    ArrayBatch batch;
    Array inner{1};
    Array from{Value("a"), Value(2), Value(inner)};
    bool nested = false;
    Array taken = batch.TakeFrom(from, 2, &nested);
    EXPECT_TRUE(nested);
    EXPECT_EQ(from.Len(), 3u);
    for (const Value& v : from.Items()) EXPECT_TRUE(v.IsNil());
    taken.Add(4);
    taken.Add(5);
    ASSERT_EQ(taken.Len(), 5u);
    EXPECT_EQ(taken.Get(1).Str(), "a");
    EXPECT_TRUE(taken.Get(3).Arr().Same(inner));
    EXPECT_EQ(taken.Get(5).Int(), 5);
    Array plain{1, 2};
    batch.TakeFrom(plain, 0, &nested);
    EXPECT_FALSE(nested);
}

// A row taken with its values as fetched: texts the two shared, texts held
// elsewhere too, and their changes in place afterwards.
TEST(ArrayStorage, TakeRowKeepsEachTextAndItsSharing) {
    std::vector<Array> rows;
    Value outside("held outside as well");
    {
        ArrayBatch batch;
        for (int64_t i = 0; i < 200; ++i) {
            Value text(std::string("row text number ") + std::to_string(i));  // longer than a short text
            Array values{text, outside, Value(i)};
            Array fetched{text, Value(), outside};
            bool nested = true;
            rows.push_back(batch.TakeRow(values, 1, fetched, &nested));
            EXPECT_FALSE(nested);
            for (const Value& v : values.Items()) EXPECT_TRUE(v.IsNil());
        }
    }
    EXPECT_EQ(outside.Str(), "held outside as well");
    for (size_t i = 0; i < rows.size(); ++i) {
        const Array& row = rows[i];
        ASSERT_EQ(row.Len(), 5u);
        Array fetched = row.Get(5).Arr();
        std::string expected = "row text number " + std::to_string(i);
        ASSERT_EQ(row.Get(1).Str(), expected);
        ASSERT_EQ(fetched.Get(1).Str(), expected);
        EXPECT_EQ(row.Get(2).Str(), "held outside as well");
        EXPECT_EQ(fetched.Get(3).Str(), "held outside as well");
        EXPECT_EQ(row.Get(4).Int(), 1);
        // a change in place of one copy is its own
        Value edited = row.Get(1);
        edited.MutableStr()->append(" edited");
        row.Set(1, edited);
        EXPECT_EQ(fetched.Get(1).Str(), expected);
        EXPECT_EQ(row.Get(1).Str(), expected + " edited");
    }
    *outside.MutableStr() = "changed";
    EXPECT_EQ(rows[150].Get(2).Str(), "held outside as well");
}

// A character value's copies share its text until one changes in place.
TEST(ArrayStorage, CopiesOfATextStayIndependent) {
    Value a("shared text");
    Value b = a;
    Array list{a, b};
    Array clone = AClone(list);
    *b.MutableStr() = "changed";
    EXPECT_EQ(a.Str(), "shared text");
    EXPECT_EQ(b.Str(), "changed");
    EXPECT_EQ(list.Get(2).Str(), "shared text");
    Value cell = clone.Get(1);
    cell.MutableStr()->append("!");
    EXPECT_EQ(list.Get(1).Str(), "shared text");
    Value empty("");
    Value emptyCopy = empty;
    empty.MutableStr()->assign("filled");
    EXPECT_EQ(emptyCopy.Str(), "");
    EXPECT_EQ(emptyCopy.Type(), 'C');
    EXPECT_EQ(Value(5).MutableStr(), nullptr);
}

}  // namespace
