// SQLTable and the tables and sort columns of a cursor's statement, read
// from its FROM and ORDER BY lists.
#include <cctype>

#include "rowxpp/sql_select.h"
#include "statement_text.h"
#include "xpp/functions.h"

namespace rowxpp {

// =================================================================== SQLTable

xpp::Class& SQLTable::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLTable", nullptr, [](xpp::Class& c) {
        auto self = [](xpp::Object& o) -> SQLTable& { return static_cast<SQLTable&>(o); };
        c.AddMessage("init", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            self(o).Init(a[1], a[2]);
            return xpp::Value(o.shared_from_this());
        });
        c.AddMessage("setkeycolumn", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            self(o).SetKeyColumn(a[1]);
            return xpp::Value(o.shared_from_this());
        });
        c.AddMessage("name", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Name; });
        c.AddMessage("delname", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).DelName; });
        c.AddMessage("keycolumns", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).KeyColumns; });
    });
}

xpp::Class& SQLTABLE() { return SQLTable::ClassObject(); }

std::shared_ptr<SQLTable> SQLTable::New(const xpp::Value& name, const xpp::Value& written) {
    ClassObject();
    auto table = std::make_shared<SQLTable>();
    table->Init(name, written);
    return table;
}

SQLTable& SQLTable::Init(const xpp::Value& name, const xpp::Value& written) {
    Name = name.IsChar() ? xpp::AllTrim(name.Str()) : std::string();
    DelName = written.IsChar() ? written.Str() : Name;
    KeyColumns = xpp::Array();
    return *this;
}

SQLTable& SQLTable::SetKeyColumn(const xpp::Value& position) {
    if (!position.IsNum() || position.Dbl() <= 0) {
        KeyColumns = xpp::Array();
    } else if (xpp::AScan(KeyColumns, position) == 0) {
        KeyColumns.Add(position);
    }
    return *this;
}

// ============================================================== SQLLIST2ARRAY

xpp::Array SQLLIST2ARRAY(const xpp::Value& listValue, const xpp::Value& delimiterValue) {
    xpp::Array names;
    xpp::Array written;
    std::string delimiters = delimiterValue.IsChar() ? delimiterValue.Str() : std::string();
    std::string list = xpp::RTrim(Blanked(listValue.IsChar() ? listValue.Str() : std::string()));
    for (;;) {
        list = xpp::LTrim(list);
        if (!list.empty() && list[0] == ',') {
            list.erase(0, 1);
            continue;
        }
        char opening = !list.empty() && delimiters.find(list[0]) != std::string::npos ? list[0] : ' ';
        char closing = opening;
        std::string prefix(1, opening);
        std::string suffix(1, opening);
        if (opening != ' ') {
            list.erase(0, 1);
            if (opening == '[') closing = suffix[0] = ']';
        } else {
            prefix.clear();
            suffix.clear();
        }
        // positions counted from the list's second character
        std::string rest = list.size() > 1 ? list.substr(1) : std::string();
        size_t p = rest.find(closing);
        size_t c = rest.find(',');
        size_t end = p == std::string::npos ? (c == std::string::npos ? 0 : c + 1)
                                            : (c == std::string::npos ? p + 1 : std::min(p, c) + 1);
        if (end == 0) {
            std::string name = xpp::StrTran(list, ";");
            names.Add(name);
            written.Add(prefix + name + suffix);
            break;
        }
        std::string name = xpp::RTrim(list.substr(0, end));
        names.Add(name);
        written.Add(prefix + name + suffix);
        bool comma = c != std::string::npos && c + 1 == end;
        list = xpp::LTrim(list.size() > end + 1 ? list.substr(end + 1) : std::string());
        if (!comma && (list.empty() || list[0] != ',')) break;
    }
    return xpp::Array{names, written};
}

// ============================================================= the statement

SQLSelect& SQLSelect::GetTableName_() {
    std::string quote = Connection && Connection->IdentifierQuoteChar.IsChar()
                            ? Connection->IdentifierQuoteChar.Str()
                            : std::string();
    std::string delimiters = quote + "`\"();" + "[],";
    OrderBy = 0;
    SortOrder = xpp::Array();
    aSQLTables = xpp::Array();
    if (cStatement.empty()) return *this;
    std::string text = Blanked(cStatement);
    std::string low = xpp::Lower(text);
    size_t from = xpp::At("from ", low);
    if (xpp::At("select ", low) == 0 || from == 0) {
        isProcedure = true;
        return *this;
    }
    xpp::Array split = SQLLIST2ARRAY(text.substr(from + 4), delimiters);
    xpp::Array names = split.Get(1).Arr();
    xpp::Array written = split.Get(2).Arr();
    xpp::Array tables = aSQLTables.Arr();
    for (size_t i = 1; i <= names.Len(); ++i) tables.Add(xpp::Value(SQLTable::New(names.Get(i), written.Get(i))));
    size_t order = xpp::RAt(" order by ", low);
    if (order > 0) {
        xpp::Array items = SQLLIST2ARRAY(text.substr(order + 9), delimiters).Get(1).Arr();
        for (const xpp::Value& item : items.Items()) {
            const std::string& name = item.Str();
            xpp::Value key = !name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) ? xpp::Val(name)
                                                                                                : item;
            int64_t position = FieldPos(key);
            if (position > 0) SortOrder.Add(position);
        }
        if (SortOrder.Len() > 0) OrderBy = SortOrder.Get(1).Int();
    }
    return *this;
}

}  // namespace rowxpp
