// Wide numbers into numeric fields: the engine's field text holds exactly
// the digits put, and FIELDGET gives them back.
#include "area_support.h"

using namespace qelxpp;
using namespace qeltest;
using xpp::Value;

namespace {

using WideNumbersTest = LoadedTest;

// The engine's own text of field `name` of the current record.
std::string FieldText(const char* name) {
    char buf[64] = {};
    uint32_t len = sizeof buf;
    if (KivGetField(CurrentTable(), name, buf, &len, 0) != 0) return "(no field)";
    return std::string(buf, std::min<size_t>(len, sizeof buf));
}

TEST_F(WideNumbersTest, FieldPutKeepsEveryDigitOfWideNumbers) {
    QELSETTABLETYPE(2);
    ASSERT_TRUE(DBCREATE("WIDE.DBF", xpp::Array{Value(Field("AMOUNT", "N", 18, 2)), Value(Field("RATE", "N", 20, 4))})
                    .Log());
    OpenWithRecord("WIDE.DBF");
    struct {
        int field;
        const char* name;
        Value put;
        const char* text;  // the engine's field text
        const char* got;   // FIELDGET, as Show() writes it
    } cases[] = {
        {1, "AMOUNT", xpp::Val("9999999999999.99"), "  9999999999999.99", "N:9999999999999.99"},
        {1, "AMOUNT", 9999999999999.99, "  9999999999999.99", "N:9999999999999.99"},
        {1, "AMOUNT", xpp::Val("-9999999999999.98"), " -9999999999999.98", "N:-9999999999999.98"},
        {2, "RATE", xpp::Val("99999999999.9999"), "    99999999999.9999", "N:99999999999.9999"},
        {2, "RATE", 99999999999.9999, "    99999999999.9999", "N:99999999999.9999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Show(FIELDPUT(c.field, c.put)), Show(c.put));
        ExpectNoErrors();
        EXPECT_EQ(FieldText(c.name), c.text);
        Value got = FIELDGET(c.field);
        EXPECT_EQ(Show(got), c.got);
        EXPECT_TRUE(xpp::Eq(got, c.put));
    }
}

}  // namespace
