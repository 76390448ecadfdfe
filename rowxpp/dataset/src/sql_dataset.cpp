// SQLDataSet: the class, construction, closing and cancelling, relations,
// the forwarders and the settings that follow into the cursor and the
// children; ISEQUAL.
#include "rowxpp/sql_dataset.h"

#include "rowxpp/sql_error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {

xpp::Class& SQLDataSet::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLDataSet", nullptr, [](xpp::Class& c) {
        using A = xpp::Args;
        using V = xpp::Value;
        auto self = [](xpp::Object& o) -> SQLDataSet& { return static_cast<SQLDataSet&>(o); };
        auto me = [](xpp::Object& o) { return V(std::static_pointer_cast<SQLDataSet>(o.shared_from_this())); };
        // every exported method, by name, in the order of the class
        c.AddMessage("init", [self, me](xpp::Object& o, A& a) -> V {
            self(o).Init(a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
            return me(o);
        });
        c.AddMessage("destroy", [self, me](xpp::Object& o, A&) -> V { return self(o).Destroy(), me(o); });
        c.AddMessage("cancel", [self](xpp::Object& o, A&) -> V { return self(o).Cancel(); });
        c.AddMessage("skip", [self](xpp::Object& o, A& a) -> V { return self(o).Skip(a[1]); });
        c.AddMessage("skipper", [self](xpp::Object& o, A& a) -> V { return self(o).Skipper(a[1]); });
        c.AddMessage("goto", [self](xpp::Object& o, A& a) -> V { return self(o).GoTo(a[1]); });
        c.AddMessage("gotop", [self, me](xpp::Object& o, A&) -> V { return self(o).GoTop(), me(o); });
        c.AddMessage("gobottom", [self, me](xpp::Object& o, A&) -> V { return self(o).GoBottom(), me(o); });
        c.AddMessage("reccount", [self](xpp::Object& o, A&) -> V { return self(o).RecCount(); });
        c.AddMessage("refreshchildren",
                     [self, me](xpp::Object& o, A&) -> V { return self(o).RefreshChildren(), me(o); });
        c.AddMessage("setrelation",
                     [self, me](xpp::Object& o, A& a) -> V { return self(o).SetRelation(a[1]), me(o); });
        c.AddMessage("clearrelation", [self, me](xpp::Object& o, A&) -> V { return self(o).ClearRelation(), me(o); });
        c.AddMessage("fieldpos", [self](xpp::Object& o, A& a) -> V { return self(o).FieldPos(a[1], a[2]); });
        c.AddMessage("fieldname", [self](xpp::Object& o, A& a) -> V { return self(o).FieldName(a[1]); });
        c.AddMessage("iscolumnempty", [self](xpp::Object& o, A& a) -> V { return self(o).isColumnEmpty(a[1]); });
        c.AddMessage("delemptycolumns",
                     [self, me](xpp::Object& o, A&) -> V { return self(o).DelEmptyColumns(), me(o); });
        c.AddMessage("seek",
                     [self](xpp::Object& o, A& a) -> V { return self(o).Seek(a[1], a[2], a[3], a[4], a[5]); });
        c.AddMessage("locate", [self](xpp::Object& o, A& a) -> V { return self(o).Locate(a[1], a[2], a[3], a[4]); });
        c.AddMessage("setprimarykey", [self](xpp::Object& o, A& a) -> V { return self(o).SetPrimaryKey(a[1], a[2]); });
        c.AddMessage("close", [self](xpp::Object& o, A&) -> V { return self(o).Close(); });
        c.AddMessage("commit", [self](xpp::Object& o, A&) -> V { return self(o).Commit(); });
        c.AddMessage("cancelupdate",
                     [self, me](xpp::Object& o, A& a) -> V { return self(o).CancelUpdate(a[1]), me(o); });
        c.AddMessage("sort", [self, me](xpp::Object& o, A& a) -> V { return self(o).Sort(a[1], a[2]), me(o); });
        c.AddMessage("delete", [self](xpp::Object& o, A& a) -> V { return self(o).Delete(a[1]); });
        c.AddMessage("append", [self, me](xpp::Object& o, A& a) -> V { return self(o).Append(a[1]), me(o); });
        c.AddMessage("insert", [self](xpp::Object& o, A& a) -> V { return self(o).Insert(a[1], a[2]); });
        c.AddMessage("fieldget", [self](xpp::Object& o, A& a) -> V { return self(o).FieldGet(a[1], a[2]); });
        c.AddMessage("recordget", [self](xpp::Object& o, A& a) -> V { return self(o).RecordGet(a[1]); });
        c.AddMessage("fastfieldget", [self](xpp::Object& o, A& a) -> V { return self(o).FastFieldGet(a[1], a[2]); });
        c.AddMessage("fieldput", [self](xpp::Object& o, A& a) -> V { return self(o).FieldPut(a[1], a[2], a[3]); });
        c.AddMessage("recordput", [self](xpp::Object& o, A& a) -> V { return self(o).RecordPut(a[1], a[2]); });
        c.AddMessage("getcolumndata", [self](xpp::Object& o, A& a) -> V { return self(o).GetColumnData(a[1]); });
        c.AddMessage("refreshrow",
                     [self, me](xpp::Object& o, A& a) -> V { return self(o).RefreshRow(a[1], a[2]), me(o); });
        c.AddMessage("refresh", [self](xpp::Object& o, A& a) -> V { return self(o).Refresh(a[1]); });
        c.AddMessage("fetchdata", [self](xpp::Object& o, A& a) -> V { return self(o).FetchData(a[1]); });
        c.AddMessage("addcolumn", [self, me](xpp::Object& o, A& a) -> V { return self(o).AddColumn(a[1], a[2]), me(o); });
        c.AddMessage("delcolumn", [self, me](xpp::Object& o, A& a) -> V { return self(o).DelColumn(a[1]), me(o); });
        c.AddMessage("getsqlcolumn", [self](xpp::Object& o, A& a) -> V { return self(o).GetSQLColumn(a[1]); });
        c.AddMessage("updaterow", [self](xpp::Object& o, A&) -> V { return self(o).UpdateRow(); });
        c.AddMessage("execute", [self](xpp::Object& o, A&) -> V { return self(o).Execute(); });
        c.AddMessage("moreresults", [self](xpp::Object& o, A&) -> V { return self(o).MoreResults(); });
        c.AddMessage("bof", [self](xpp::Object& o, A&) -> V { return self(o).Bof(); });
        c.AddMessage("eof", [self](xpp::Object& o, A&) -> V { return self(o).Eof(); });
        c.AddMessage("onerror", [self](xpp::Object& o, A& a) -> V { return self(o).onError(a[1]); });
        c.AddMessage("querytimeout", [self](xpp::Object& o, A& a) -> V { return self(o).QueryTimeout(a[1]); });
        c.AddMessage("displayerrors", [self](xpp::Object& o, A& a) -> V { return self(o).DisplayErrors(a[1]); });
        c.AddMessage("fieldcount", [self](xpp::Object& o, A&) -> V { return self(o).FieldCount(); });
        c.AddMessage("deleted", [self](xpp::Object& o, A&) -> V { return self(o).Deleted(); });
        c.AddMessage("usepositiondelete", [self](xpp::Object& o, A&) -> V { return self(o).UsePositionDelete(); });
        c.AddMessage("usepositionupdate", [self](xpp::Object& o, A&) -> V { return self(o).UsePositionUpdate(); });
        c.AddMessage("isrowmodified", [self](xpp::Object& o, A&) -> V { return self(o).isRowModified(); });
        c.AddMessage("datetimeasdate", [self](xpp::Object& o, A&) -> V { return self(o).DateTimeAsDate(); });
        c.AddMessage("errorcode", [self](xpp::Object& o, A&) -> V { return self(o).ErrorCode(); });
        c.AddMessage("errormessage", [self](xpp::Object& o, A&) -> V { return self(o).ErrorMessage(); });
        c.AddMessage("concurrency", [self](xpp::Object& o, A&) -> V { return self(o).Concurrency(); });
        c.AddMessage("cursortype", [self](xpp::Object& o, A&) -> V { return self(o).CursorType(); });
        c.AddMessage("handle", [self](xpp::Object& o, A&) -> V { return self(o).Handle(); });
        c.AddMessage("recno", [self](xpp::Object& o, A&) -> V { return self(o).RecNo(); });
        c.AddMessage("fcount", [self](xpp::Object& o, A&) -> V { return self(o).FCount(); });
    });
}

xpp::Class& SQLDATASET() { return SQLDataSet::ClassObject(); }

std::shared_ptr<SQLDataSet> SQLDataSet::New(const xpp::Value& sql, const xpp::Value& connection,
                                            const xpp::Value& parameters, const xpp::Value& primaryKey,
                                            const xpp::Value& maxRows, const xpp::Value& fields,
                                            const xpp::Value& filter, const xpp::Value& trimmed,
                                            const xpp::Value& dateTimeAsDate) {
    ClassObject();
    auto ds = std::make_shared<SQLDataSet>();
    ds->Init(sql, connection, parameters, primaryKey, maxRows, fields, filter, trimmed, dateTimeAsDate);
    return ds;
}

std::shared_ptr<SQLDataSet> SQLConnection::DataSet(const xpp::Value& sql, const xpp::Value& parameters,
                                                   const xpp::Value& primaryKey, const xpp::Value& maxRows,
                                                   const xpp::Value& fields, const xpp::Value& filter,
                                                   const xpp::Value& trimmed, const xpp::Value& dateTimeAsDate) {
    return SQLDataSet::New(sql, xpp::Value(std::static_pointer_cast<SQLConnection>(shared_from_this())), parameters,
                           primaryKey, maxRows, fields, filter, trimmed, dateTimeAsDate);
}

namespace {
// DataSet(cSQL, xParameters, xPrimaryKey, nMaxRows, aFields, bFilter,
// lTrimmed, lDateTimeAsDate) sent to a connection: a new data set on it, not
// filled.
struct ConnectionMessages {
    ConnectionMessages() {
        SQLConnection::AddMessage_("DataSet", [](SQLConnection& s, xpp::Args& a) {
            return xpp::Value(s.DataSet(a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]));
        });
    }
} connectionMessages;
}  // namespace

xpp::Value SQLDataSet::Self_() { return xpp::Value(std::static_pointer_cast<SQLDataSet>(shared_from_this())); }

SQLDataSet& SQLDataSet::Init(const xpp::Value& sql, const xpp::Value& connection, const xpp::Value& parameters,
                             const xpp::Value& primaryKey, const xpp::Value& maxRows, const xpp::Value& fields,
                             const xpp::Value& filter, const xpp::Value& trimmed,
                             const xpp::Value& dateTimeAsDate) {
    XPP_FRAME("SQLDATASET:INIT");
    xpp::Array extra = fields.IsArray() ? fields.Arr() : xpp::Array();
    bool lTrimmed = trimmed.IsLogical() && trimmed.Log();

    RecNo_ = 0;
    RowsUpdated_ = 0;
    FCount_ = 0;
    nQueryTimeout = 0;
    FieldList_ = xpp::Array();
    FieldListU_ = xpp::Array();
    BlankRecord = xpp::Array{0, xpp::Value()};
    FieldLen_ = xpp::Array();
    FieldColumn_ = xpp::Array();
    DataLinksGet_ = xpp::Array();
    DataLinksSet_ = xpp::Array();
    ChildRelations_ = xpp::Array();
    DeletedList_ = xpp::Array();
    DataSet = xpp::Array();
    isColumnEmpty_ = xpp::Array();
    isRefreshNeeded_ = true;
    isCursorClosed_ = false;
    isTruncated_ = false;
    isCancelled = false;
    isTrimmed_ = lTrimmed;
    SQLParameters = parameters;
    MaxRows = maxRows;
    PrimaryKey_ = primaryKey;
    lWholeCursor_ = false;
    if (filter.IsBlock()) CustomFilter = filter;

    if (xpp::Empty(sql)) return *this;
    if (sql.IsObject()) {
        auto given = sql.As<SQLSelect>();
        if (!given || !given->isDerivedFrom("SQLSelect")) return *this;
        Cursor_ = given;
    } else if (sql.IsChar()) {
        Cursor_ = SQLSelect::New(sql, connection, 1, 0);
    } else {
        return *this;
    }

    Cursor_->UsePositionDelete(false);
    Cursor_->UsePositionUpdate(false);
    SQLString = Cursor_->SQLString();
    Connection_ = Cursor_->Connection;

    xpp::Value dates = dateTimeAsDate;
    if (!dates.IsLogical()) dates = Connection_ ? Connection_->DateTimeAsDate : false;
    if (Cursor_->Handle == 0) {
        Cursor_->DateTimeAsDate(dates);
        return *this;
    }
    if (!Cursor_->isCursorOpen && !Cursor_->isPrepared) {
        Cursor_->DateTimeAsDate(dates);
        xpp::Value p = parameters.IsBlock() ? xpp::Eval(parameters) : parameters;
        initExecuted_ = true;
        initParameters_ = p.IsArray() ? xpp::Value(xpp::AClone(p.Arr())) : p;
        if (Cursor_->Execute(xpp::Args{p}) == kExecFailed) return *this;
    }
    OrderBy = Cursor_->OrderBy;
    SortOrder = xpp::AClone(Cursor_->SortOrder);

    if (!xpp::Empty(primaryKey)) {
        Cursor_->SetPrimaryKey(primaryKey);
    } else {
        if (Cursor_->AutoUniqueColumn != 0) {
            PrimaryKey_ = Cursor_->AutoUniqueColumn;
            Cursor_->SetPrimaryKey(PrimaryKey_);
        }
        int64_t rowid = 0;
        if (xpp::Empty(PrimaryKey_) && (rowid = Cursor_->FieldPos("ROWID")) > 0) {
            PrimaryKey_ = rowid;
            Cursor_->SetPrimaryKey(PrimaryKey_);
        }
    }

    int64_t columns = Cursor_->FCount();
    for (int64_t i = 1; i <= columns; ++i) AddField_(xpp::Value(Cursor_->FieldName(i)));
    for (const xpp::Value& f : extra.Items()) AddField_(f);
    lWholeCursor_ = !lTrimmed && extra.Len() == 0;
    return *this;
}

SQLDataSet& SQLDataSet::Destroy() {
    Close();
    return *this;
}

void SQLDataSet::DropCursor_() {
    if (!Cursor_) return;
    std::lock_guard<std::mutex> guard(handleLock_);
    Cursor_->Destroy();
    // the next fill executes the statement again
    isCursorClosed_ = true;
}

bool SQLDataSet::Close() {
    Visited visited;
    return Close_(visited);
}

bool SQLDataSet::Close_(Visited& visited) {
    XPP_FRAME("SQLDATASET:CLOSE");
    if (!visited.insert(this).second) return true;
    std::vector<xpp::Value> children;
    {
        xpp::Sync sync(*this);
        DropCursor_();
        DataSet.Clear();
        DeletedList_.Clear();
        for (size_t i = 1; i <= isColumnEmpty_.Len(); ++i) isColumnEmpty_.Set(i, xpp::Value());
        isCursorClosed_ = true;
        isRefreshNeeded_ = false;
        CurParameters_ = xpp::Value();
        RecNo_ = 0;
        lBof_ = lEof_ = true;
        children = ChildRelations_.Items();
    }
    // the children are closed after this lock is given back, so that a
    // child's fill reading this data set cannot wait on us while we wait
    // on it
    for (const xpp::Value& child : children) {
        if (auto ds = child.As<SQLDataSet>()) ds->Close_(visited);
        else xpp::Send(child, "close");
    }
    return true;
}

bool SQLDataSet::Cancel() {
    Visited visited;
    Cancel_(visited);
    return isCancelled.load();
}

void SQLDataSet::Cancel_(Visited& visited) {
    XPP_FRAME("SQLDATASET:CANCEL");
    if (!visited.insert(this).second) return;
    isCancelled = true;
    // The fill tests the flag before every row. SQLCancel is only sent to
    // an execution the driver has been running for a while, never to a
    // handle another call is dropping, making or reading: the driver
    // manager does not keep a statement's diagnostics safe from a cancel
    // that overlaps its own work around a call, which is over within
    // microseconds of the call's start.
    constexpr std::chrono::milliseconds kUnderWay{100};
    bool executing = false;
    {
        std::lock_guard<std::mutex> guard(handleLock_);
        executing = executing_;
    }
    if (executing) {
        xpp::Sleep(20);
        std::lock_guard<std::mutex> guard(handleLock_);
        if (executing_ && std::chrono::steady_clock::now() - executionStart_ >= kUnderWay) Cursor_->Cancel();
    }
    for (const xpp::Value& child : ChildRelations_.Items()) {
        if (auto ds = child.As<SQLDataSet>()) ds->Cancel_(visited);
        else xpp::Send(child, "cancel");
    }
}

// ---------------------------------------------------------------- relations

SQLDataSet& SQLDataSet::SetRelation(const xpp::Value& child) {
    ChildRelations_.Add(child);
    return *this;
}

SQLDataSet& SQLDataSet::ClearRelation() {
    ChildRelations_.Clear();
    return *this;
}

SQLDataSet& SQLDataSet::RefreshChildren() {
    for (const xpp::Value& child : ChildRelations_.Items()) {
        if (auto ds = child.As<SQLDataSet>()) ds->Refresh();
        else xpp::Send(child, "refresh");
    }
    return *this;
}

// ------------------------------------------------------ forwarders, access

std::shared_ptr<SQLColumn> SQLDataSet::GetSQLColumn(const xpp::Value& field) {
    return Cursor_ ? Cursor_->GetSQLColumn(field) : nullptr;
}

bool SQLDataSet::isRowModified() {
    int64_t n = RecNo_.load();
    if (n < 1 || n > static_cast<int64_t>(DataSet.Len())) return false;
    xpp::Value row = DataSet.Get(static_cast<size_t>(n));
    if (!row.IsArray() || row.Arr().Len() < static_cast<size_t>(FCount_ + 1)) return false;
    xpp::Value state = row.Arr().Get(static_cast<size_t>(FCount_ + 1));
    return state.IsNum() && state.Dbl() <= 0;
}

xpp::Value SQLDataSet::DateTimeAsDate() { return Cursor_ ? xpp::Value(Cursor_->DateTimeAsDate()) : xpp::Value(); }

int64_t SQLDataSet::ErrorCode() { return Cursor_ ? Cursor_->ErrorCode : 0; }

std::string SQLDataSet::ErrorMessage() { return Cursor_ ? Cursor_->ErrorMessage() : std::string(); }

int64_t SQLDataSet::Handle() { return Cursor_ ? Cursor_->Handle : -1; }

xpp::Value SQLDataSet::onError(const xpp::Value& block) {
    Visited visited;
    return onError_(block, visited);
}

xpp::Value SQLDataSet::onError_(const xpp::Value& block, Visited& visited) {
    if (!Cursor_) return xpp::Value();
    if (!visited.insert(this).second) return Cursor_->onError;
    if (block.IsBlock()) {
        Cursor_->onError = block;
        for (const xpp::Value& child : ChildRelations_.Items()) {
            if (auto ds = child.As<SQLDataSet>()) ds->onError_(block, visited);
            else xpp::Send(child, "onerror", {block});
        }
    }
    return Cursor_->onError;
}

xpp::Value SQLDataSet::QueryTimeout(const xpp::Value& seconds) {
    Visited visited;
    return QueryTimeout_(seconds, visited);
}

xpp::Value SQLDataSet::QueryTimeout_(const xpp::Value& seconds, Visited& visited) {
    if (!Cursor_) return xpp::Value();
    if (!visited.insert(this).second) return nQueryTimeout;
    if (seconds.IsNum()) {
        nQueryTimeout = seconds.Int();
        Cursor_->QueryTimeout(seconds);
        for (const xpp::Value& child : ChildRelations_.Items()) {
            if (auto ds = child.As<SQLDataSet>()) ds->QueryTimeout_(seconds, visited);
            else xpp::Send(child, "querytimeout", {seconds});
        }
    }
    return nQueryTimeout;
}

xpp::Value SQLDataSet::DisplayErrors(const xpp::Value& display) {
    Visited visited;
    return DisplayErrors_(display, visited);
}

xpp::Value SQLDataSet::DisplayErrors_(const xpp::Value& display, Visited& visited) {
    if (!Cursor_) return xpp::Value();
    if (!visited.insert(this).second) return Cursor_->DisplayErrors;
    if (display.IsLogical()) {
        Cursor_->DisplayErrors = display.Log();
        for (const xpp::Value& child : ChildRelations_.Items()) {
            if (auto ds = child.As<SQLDataSet>()) ds->DisplayErrors_(display, visited);
            else xpp::Send(child, "displayerrors", {display});
        }
    }
    return Cursor_->DisplayErrors;
}

// ----------------------------------------------------------------- ISEQUAL

bool ISEQUAL(const xpp::Value& x, const xpp::Value& y) {
    if (x.Type() != y.Type()) return false;
    if (x.IsArray()) {
        xpp::Array a = x.Arr(), b = y.Arr();
        if (a.Same(b)) return true;
        std::vector<xpp::Value> ea = a.Items(), eb = b.Items();
        if (ea.size() != eb.size()) return false;
        for (size_t i = 0; i < ea.size(); ++i)
            if (!ISEQUAL(ea[i], eb[i])) return false;
        return true;
    }
    return xpp::ExactEq(x, y);
}

}  // namespace rowxpp
