// SQLStatement: one ODBC statement handle on one SQLConnection, with its
// text, its recorded attributes, the parameters of its last execution and
// the memory of its parameter bindings. SQLValue: one explicitly typed
// parameter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rowxpp/sql_connection.h"
#include "xpp/object.h"
#include "xpp/value.h"

namespace rowxpp {

// Results of SQLStatement::Execute besides a row count of 0 or more.
inline constexpr int64_t kExecNoCount = -1;    // success, the driver reports no count
inline constexpr int64_t kExecFailed = -2;     // failure, or parameters that cannot be bound
inline constexpr int64_t kExecInfoNoCount = -3;  // success with information, no readable count
inline constexpr int64_t kExecHidden34000 = -9;  // hidden statement, SQLSTATE 34000, nothing shown

class SQLStatement : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }

    // new(cSQL, oConnection): a statement on the given connection, else on
    // the calling thread's (connected with DriverConnect when needed).
    static std::shared_ptr<SQLStatement> New(const xpp::Value& sql = xpp::Value(),
                                             const xpp::Value& connection = xpp::Value());

    SQLStatement() = default;
    ~SQLStatement() override;

    virtual SQLStatement& Init(const xpp::Value& sql, const xpp::Value& connection);
    // This class's Init with the connection at hand (null: none given).
    // `fresh`: a new object, or a one-shot statement kept for the thread's
    // next one after its drop, so its state is cleared already.
    SQLStatement& InitOn_(const xpp::Value& sql, std::shared_ptr<SQLConnection> connection, bool fresh = false);

    // ---- lifecycle
    bool AllocHandle_();
    // 0 SQL_CLOSE, 1 SQL_DROP, 2 SQL_UNBIND, 3 SQL_RESET_PARAMS.
    bool FreeStmt_(const xpp::Value& option = xpp::Value());
    bool FreeStmt_(int64_t option);
    // The statement-level reset: clears the state without an ODBC call.
    // A subclass overrides it with its own flagged version; callers that
    // want this one qualify it (statement.SQLStatement::Reset_()).
    virtual SQLStatement& Reset_(const xpp::Value& flag = xpp::Value());
    // The handle went with a lost connection (reset already): a subclass
    // drops what it held of the handle's result. A statement holds none.
    virtual void HandleLost_() {}
    // Drops and re-allocates the handle; the text becomes TRIM(cSQL); the
    // recorded attributes are applied again unless `keepAttributes` is .T.
    SQLStatement& Reset(const xpp::Value& sql = xpp::Value(), const xpp::Value& keepAttributes = xpp::Value());
    // SQLString: the text; assigning character text resets a prepared
    // statement, else stores it trimmed; other values change nothing.
    const std::string& SQLString() const { return cStatement; }
    const std::string& SQLString(const xpp::Value& text);

    bool SetAttribute(int64_t attribute, const xpp::Value& value);
    xpp::Value GetAttribute(int64_t attribute, const xpp::Value& asText = xpp::Value());
    // Meant for a second thread while the first waits in an ODBC call.
    bool Cancel();

    SQLStatement& DisplayError_(const xpp::Value& returnCode = xpp::Value(),
                                const xpp::Value& handleType = xpp::Value(), const xpp::Value& handle = xpp::Value());
    std::string ErrorMessage();
    // The connection's DropStatement with self.
    virtual xpp::Value Destroy();

    // ---- execution
    virtual bool Prepare(const xpp::Value& sql = xpp::Value());
    // Execute(...): no argument or NIL, one array (the parameter list), one
    // value, or several values. Answers a row count of 0 or more, or one of
    // the kExec... results.
    virtual int64_t Execute(const xpp::Args& args = {});
    // This class's Execute with exactly one argument.
    int64_t ExecuteWith_(const xpp::Value& params);
    bool MoreResults();
    int64_t GetRowCount();
    int64_t RecCount() const { return nRowCount; }

    // ---- transactions of the connection
    bool inTransaction() { return Connection->inTransaction(); }
    bool BeginTransaction() { return Connection->BeginTransaction(); }
    bool EndTransaction() { return Connection->EndTransaction(); }
    bool CommitTransaction() { return Connection->CommitTransaction(); }
    bool RollbackTransaction() { return Connection->RollbackTransaction(); }

    // ---- members
    // The memory of the current bindings: the address lists of the packed
    // value pieces and indicator cells (element 1 of each is its block);
    // empty when none is held.
    xpp::Array MemLock() const;
    int64_t Handle = 0;
    std::shared_ptr<SQLConnection> Connection;
    bool isPrepared = false;
    int64_t ErrorCode = 0;
    // {attribute, value} pairs in the order first set.
    xpp::Array Attributes;
    xpp::Value ParamList;
    bool DisplayErrors = true;
    xpp::Value onError;
    bool isHidden_ = false;
    xpp::Value Cargo;
    xpp::Value Cargo_;

    // Set while this statement's Execute runs (nested runs counted), so that
    // the error handler knows the failing call was the execution.
    int executing_ = 0;
    // The result of the error handler's re-execution after a reconnect,
    // which the failed Execute answers in place of -2 (NIL: none).
    xpp::Value reexecuted_;

protected:
    // Runs the statement with the gathered parameter list of n elements
    // (`list`, the array `params` holds; SIZE_MAX: all it holds).
    int64_t Run_(const xpp::Value& params, const xpp::Array& list, size_t n);
    SQLStatement& Execute_();
    SQLStatement& CheckDeadlock_();
    // Whether an execution's information (its diagnostics wait) is shown.
    virtual bool ReportsInfo_() { return true; }
    // Binds the n parameters of `params` (their values `items`, a snapshot)
    // from their values and indicators packed into two blocks, which
    // aMemLock holds.
    bool SetParameters_(const xpp::Array& params, const std::vector<xpp::Value>& items, int64_t n);
    // Releases the memory of the bindings (__MEMFREE of aMemLock).
    void FreeBindings_();
    xpp::Value Self();

    std::string cStatement;
    int64_t nRowCount = -1;
    int64_t LastBoundCol = -1;
    xpp::Array apColBuffer;
    xpp::Array apColSize;

private:
    // The memory of the bindings, held from the binding to the end of the
    // execution: the indicator cells (a block), the addresses of the value
    // pieces, and the value pieces back to back (a block), in one piece of
    // memory.
    struct BindingMemory {
        char* memory = nullptr;
        size_t count = 0;
        size_t size = 0;  // of the memory
        char* const* Pieces() const { return reinterpret_cast<char* const*>(memory + count * sizeof(int64_t)); }
    };
    BindingMemory aMemLock;
    // The memory of the last bindings once released, kept for the next
    // ones while small.
    char* spareMemory_ = nullptr;
    size_t spareSize_ = 0;
    // Room for the snapshot of the parameters that binding takes, kept
    // (empty) from one execution to the next.
    std::vector<xpp::Value> paramRoom_;
};

// SQLSTATEMENT(): the class object.
xpp::Class& SQLSTATEMENT();

// __MEMFREE(aList): frees every block listed (an address list through
// __FreePacked, an address through __MemRelease) and empties the list in
// place. A block that cannot be freed raises "Failed to free allocated
// memory" and the walk goes on.
void MEMFREE_(const xpp::Array& list);

// __PUTRESTOFDATA(hStmt, aParams, aPieces): answers the driver's requests
// for data at execution. The token SQLParamData hands back is looked up
// among `pieces` (the addresses of the bound value pieces, in parameter
// order); the parameter at that position is sent in pieces of 65535 bytes
// (an SQLValue's Value, any other element's text). An unknown token cancels
// the statement and answers SQL_ERROR. Answers the last code of
// SQLParamData otherwise (never 99).
int64_t PUTRESTOFDATA_(int64_t hStmt, const xpp::Array& params, const xpp::Array& pieces);

// The size of one SQLPutData piece.
inline constexpr int64_t kPutDataPiece = 65535;

class SQLValue : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    // new(value, SQLType, CType, precision, scale, bytes): stored as given.
    static std::shared_ptr<SQLValue> New(const xpp::Value& value = xpp::Value(),
                                         const xpp::Value& sqlType = xpp::Value(),
                                         const xpp::Value& cType = xpp::Value(),
                                         const xpp::Value& precision = xpp::Value(),
                                         const xpp::Value& scale = xpp::Value(),
                                         const xpp::Value& bytes = xpp::Value());
    SQLValue& Init(const xpp::Value& value, const xpp::Value& sqlType, const xpp::Value& cType,
                   const xpp::Value& precision, const xpp::Value& scale, const xpp::Value& bytes);

    xpp::Value Value;
    xpp::Value SQLType;
    xpp::Value CType;
    xpp::Value Precision;
    xpp::Value Scale;
    xpp::Value Bytes;
    xpp::Value cargo;
};

// SQLVALUE(): the class object.
xpp::Class& SQLVALUE();

}  // namespace rowxpp
