// Writing a cursor's current row back: the key of the table, the row marks
// of Delete and Append, and the INSERT, UPDATE and DELETE statements that
// UpdateRow generates and runs on the cursor's hidden write statement.
#include <algorithm>
#include <cmath>
#include <vector>

#include "cursor_calls.h"
#include "rowxpp/sql_error.h"
#include "rowxpp/sql_select.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

using cursor::H;
using cursor::Ok;

// A character date-time value that may stand inside an escape literal:
// digits, "-", ":", "." and blanks only.
bool PlainDateTime(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char ch) {
        return (ch >= '0' && ch <= '9') || ch == '-' || ch == ':' || ch == '.' || ch == ' ';
    });
}

// `name` between quote characters; a quote character inside is doubled.
std::string Quoted(const std::string& quote, const std::string& name) {
    if (quote.empty() || quote == " ") return quote + name + quote;
    return quote + xpp::StrTran(name, quote, quote + quote) + quote;
}

std::shared_ptr<SQLColumn> ColumnAt(const xpp::Value& columns, int64_t i) {
    if (!columns.IsArray() || i < 1 || static_cast<size_t>(i) > columns.Arr().Len()) return nullptr;
    return columns.Arr().Get(static_cast<size_t>(i)).As<SQLColumn>();
}

}  // namespace

std::string FORMATBUFFER(const xpp::Value& value, int64_t sqlType, const xpp::Array& params,
                         const std::string& nullText, const std::string& marker, const std::string& prefix,
                         bool search) {
    auto parameter = [&](const xpp::Value& v) {
        params.Add(v);
        return marker;
    };
    switch (value.Type()) {
        case 'C': {
            const std::string& text = value.Str();
            auto length = static_cast<int64_t>(text.size());
            switch (sqlType) {
                case SQL_CHAR:
                case SQL_VARCHAR: return parameter(value);
                case SQL_TYPE_TIMESTAMP:
                case SQL_DATETIME:
                case SQL_TYPE_TIME:
                    if (xpp::Empty(value)) return nullText;
                    // Anything but a plain date-time never reaches the text.
                    if (!PlainDateTime(text)) {
                        return parameter(xpp::Value(SQLValue::New(value, sqlType, SQL_C_CHAR, length, 0, length)));
                    }
                    return prefix + (sqlType == SQL_TYPE_TIME ? "{t '" : "{ts '") + text + "'}";
                case SQL_LONGVARCHAR:
                    // An empty long text is written as NULL, but a row that
                    // holds one is found by it, not by IS NULL.
                    if ((length == 0 || xpp::Empty(value)) && !search) return nullText;
                    return parameter(xpp::Value(SQLValue::New(value, SQL_LONGVARCHAR, SQL_C_CHAR, length, 0, length)));
                case SQL_BINARY:
                case SQL_VARBINARY:
                case SQL_LONGVARBINARY:
                    if (length == 0 && !search) return nullText;
                    return parameter(xpp::Value(SQLValue::New(value, sqlType, SQL_C_BINARY, length, 0, length)));
                default: return parameter(value);
            }
        }
        case 'N':
            if (sqlType == SQL_REAL || sqlType == SQL_FLOAT || sqlType == SQL_DOUBLE) return parameter(value);
            // NaN and the infinities have no literal: they travel as doubles
            if (!std::isfinite(value.Dbl())) return parameter(value);
            return prefix + xpp::LTrim(xpp::Str(value));
        case 'D': {
            if (value.Dat().IsEmpty()) return nullText;
            std::string s = xpp::DToS(value.Dat());
            return prefix + "{d '" + s.substr(0, 4) + "-" + s.substr(4, 2) + "-" + s.substr(6, 2) + "'}";
        }
        // a logical travels as SQL_BIT "1"/"0", which every driver converts
        // to its own boolean or number column
        case 'L': return parameter(value);
        case 'U': return nullText;
        default: return parameter(value);
    }
}

// --------------------------------------------------------------------- key

bool SQLSelect::SetPrimaryKey(const xpp::Value& keys, const xpp::Value& table) {
    XPP_FRAME("SQLSELECT:SETPRIMARYKEY");
    if (isProcedure) return false;
    if (!isCursorOpen && !isPrepared && !Prepare()) return false;
    xpp::Array tables = aSQLTables.IsArray() ? aSQLTables.Arr() : xpp::Array();
    if (tables.Len() == 0) return false;
    std::shared_ptr<SQLTable> target;
    if (xpp::Empty(table)) {
        target = tables.Get(1).As<SQLTable>();
    } else {
        std::string wanted = xpp::Upper(xpp::AllTrim(table.IsChar() ? table.Str() : ASSTRING(table)));
        for (const xpp::Value& t : tables.Items()) {
            auto candidate = t.As<SQLTable>();
            if (candidate && xpp::Upper(candidate->Name) == wanted) {
                target = candidate;
                break;
            }
        }
        if (!target) {
            RAISEERROR_(0, "Invalid SQL table name specified: " + wanted);
            return false;
        }
    }
    if (!target) return false;
    if (xpp::Empty(keys)) {
        target->SetKeyColumn(xpp::Value());
        return true;
    }
    xpp::Array list;
    if (keys.IsArray()) {
        target->SetKeyColumn(xpp::Value());
        list = keys.Arr();
    } else {
        list.Add(keys);
    }
    xpp::Array columns = aSQLColumns.IsArray() ? aSQLColumns.Arr() : xpp::Array();
    for (const xpp::Value& key : list.Items()) {
        int64_t position = FieldPos(key);
        if (position == 0 && key.IsChar()) {
            std::string name = xpp::Upper(xpp::Trim(key.Str()));
            for (size_t i = 1; i <= columns.Len(); ++i) {
                auto column = columns.Get(i).As<SQLColumn>();
                if (column && xpp::Upper(column->Name) == name) {
                    position = static_cast<int64_t>(i);
                    break;
                }
            }
        }
        target->SetKeyColumn(position);
        if (position == 0) {
            RAISEERROR_(0, "Invalid SQL cursor column specified: " + ASSTRING(key));
            return false;
        }
    }
    return true;
}

// --------------------------------------------------------------- row marks

xpp::Value SQLSelect::Delete() {
    if (Row_->isDeleted || Row_->isReallyDeleted) return Self_();
    if (Row_->isAppend) {
        Row_->Clear();
    } else {
        Row_->isDeleted = true;
        Row_->isRowModified = true;
    }
    return Self_();
}

xpp::Value SQLSelect::Append() {
    if (!Row_->isAppend) Row_->SetAppendMode();
    return Self_();
}

bool SQLSelect::ForceRowUpdate_(const xpp::Value& originals, const xpp::Value& buffer) {
    XPP_FRAME("SQLSELECT:__FORCEROWUPDATE");
    Row_->ForceModified(originals, buffer);
    // the row may hold a new buffer array now
    RowBuffer = Row_->Buffer;
    return UpdateRow(true);
}

// ------------------------------------------------------------------- writing

bool SQLSelect::UpdateRow(const xpp::Value& force) {
    XPP_FRAME("SQLSELECT:UPDATEROW");
    xpp::Array params;
    RowsUpdated_ = 0;
    if (!Row_->isRowModified) return true;
    if (!(force.IsLogical() && force.Log()) && !isCursorOpen) return false;
    xpp::Array tables = aSQLTables.IsArray() ? aSQLTables.Arr() : xpp::Array();
    auto table = tables.Len() > 0 ? tables.Get(1).As<SQLTable>() : nullptr;
    if (!table) {
        RAISEERROR_(0, "No SQL table to write to!");
        return false;
    }
    std::string quote = Connection && Connection->IdentifierQuoteChar.IsChar()
                            ? Connection->IdentifierQuoteChar.Str()
                            : std::string();
    int64_t n = std::min<int64_t>(nColCount, aSQLColumns.IsArray() ? aSQLColumns.Arr().Len() : 0);
    auto name = [&](int64_t i) {
        auto column = ColumnAt(aSQLColumns, i);
        return Quoted(quote, column ? column->Name : std::string());
    };
    auto sqlType = [&](int64_t i) {
        auto column = ColumnAt(aSQLColumns, i);
        return column ? column->SQLType : int64_t{0};
    };
    auto at = [](int64_t i) { return static_cast<size_t>(i); };

    std::string text;
    std::string clause;
    xpp::Array searchParams;
    bool searched = false;
    // the columns whose value goes as NULL: as fetched they are NIL after
    // the write
    std::vector<size_t> writtenNull;
    if (Row_->isAppend) {
        text = "insert into " + table->DelName + "(";
        std::string values = ") values (";
        std::string separator;
        for (int64_t i = 1; i <= n; ++i) {
            xpp::Value v = Row_->Buffer.Get(at(i));
            if (!Row_->isModified.Get(at(i)).Log() || v.IsNil()) continue;
            text += separator + name(i);
            std::string item = FORMATBUFFER(v, sqlType(i), params, " NULL", "?", "");
            if (item == " NULL") writtenNull.push_back(at(i));
            values += separator + item;
            separator = ",";
        }
        if (separator.empty()) {
            values += " NULL";
            int64_t chosen = 1;
            for (int64_t i = n; i >= 1; --i) {
                auto column = ColumnAt(aSQLColumns, i);
                if (column && column->isNullable) {
                    chosen = i;
                    break;
                }
            }
            text += name(chosen);
        }
        text += values + ")";
    } else if (Row_->isDeleted) {
        clause = CreateSearchExp_(lUsePosDelete, searchParams, table->KeyColumns, quote);
        text = "delete from " + table->DelName + clause;
        searched = true;
    } else {
        text = "update " + table->DelName;
        std::string separator = " set ";
        for (int64_t i = 1; i <= n; ++i) {
            if (!Row_->isModified.Get(at(i)).Log()) continue;
            std::string item = FORMATBUFFER(Row_->Buffer.Get(at(i)), sqlType(i), params, "= NULL", "=?", "=");
            if (item == "= NULL") writtenNull.push_back(at(i));
            text += separator + name(i) + item;
            separator = ",";
        }
        clause = CreateSearchExp_(lUsePosUpdate, searchParams, table->KeyColumns, quote);
        text += clause;
        searched = true;
    }
    if (searched) {
        // An UPDATE or DELETE changes exactly the row it means, or nothing:
        // never the whole table, never every copy of a duplicated row.
        if (clause.empty() || (searchByValues_ && CountRows_(table->DelName, clause, searchParams) != 1)) {
            RAISEERROR_(0, "Can not identify the row to write!");
            return false;
        }
        for (const xpp::Value& v : searchParams.Items()) params.Add(v);
    }

    if (!oSQLUpdate) {
        oSQLUpdate = SQLStatement::New(text, xpp::Value(Connection));
        oSQLUpdate->isHidden_ = true;
    } else {
        oSQLUpdate->SQLString(xpp::Value(text));
    }
    oSQLUpdate->DisplayErrors = DisplayErrors;
    oSQLUpdate->onError = onError;
    int64_t result = RowsUpdated_ = oSQLUpdate->Execute(xpp::Args{xpp::Value(params)});
    if (searched && result > 1) {
        // A key that is no key: the statement has run (its changes stay
        // unless the program rolls its transaction back), but it did not
        // write the one row the cursor stands on.
        oSQLUpdate->Reset();
        RAISEERROR_(0, "Can not identify the row to write!");
        return false;
    }
    if (result >= 1 || result == kExecInfoNoCount) {
        Row_->SetUpdated();
        for (size_t i : writtenNull) Row_->Original.Set(i, xpp::Value());
        oSQLUpdate->Reset();
        return true;
    }
    if (result == kExecHidden34000) {
        lUsePosDelete = lUsePosUpdate = false;
        if (!SearchExp.IsNil()) {
            oSQLUpdate->Reset();
            SearchExp = xpp::Value();
            return UpdateRow(force);
        }
    }
    SearchExp = xpp::Value();
    oSQLUpdate->Reset();
    return false;
}

std::string SQLSelect::CreateSearchExp_(bool positioned, const xpp::Array& params, const xpp::Array& keys,
                                        const std::string& quote) {
    XPP_FRAME("SQLSELECT:__CREATESEARCHEXP");
    searchByValues_ = false;
    if (positioned) {
        if (!SearchExp.IsNil()) return SearchExp.Str();
        std::string buffer(255, ' ');
        SQLSMALLINT length = 0;
        int64_t rc = OdbcCall<22>(H(Handle), reinterpret_cast<SQLCHAR*>(buffer.data()), static_cast<SQLSMALLINT>(254),
                                  &length);
        if (Ok(rc) && length > 0) {
            SearchExp = " where current of " + buffer.substr(0, static_cast<size_t>(std::min<SQLSMALLINT>(length, 254)));
            return SearchExp.Str();
        }
        lUsePosDelete = lUsePosUpdate = false;
    }
    std::string clause;
    std::string joiner = " where ";
    auto compare = [&](int64_t i) {
        auto column = ColumnAt(aSQLColumns, i);
        if (!column) return;
        clause += joiner + Quoted(quote, column->Name) +
                  FORMATBUFFER(Row_->Original.Get(static_cast<size_t>(i)), column->SQLType, params, " IS NULL", "=?",
                               "=", true);
        joiner = " and ";
    };
    xpp::Array list = keys;
    if (list.Len() == 0 && AutoUniqueColumn != 0) list = xpp::Array{AutoUniqueColumn};
    if (list.Len() == 0) {
        searchByValues_ = true;
        for (int64_t i = 1; i <= nColCount; ++i) {
            auto column = ColumnAt(aSQLColumns, i);
            if (column && column->isSearchable) compare(i);
        }
    } else {
        for (const xpp::Value& k : list.Items()) {
            if (k.IsNum()) compare(k.Int());
        }
    }
    return clause;
}

int64_t SQLSelect::CountRows_(const std::string& table, const std::string& clause, const xpp::Array& params) {
    int64_t kept = ErrorCode;
    int64_t count = CountWith_("select count (*) from " + table + clause, xpp::Value(params));
    ErrorCode = kept;
    return count;
}

}  // namespace rowxpp
