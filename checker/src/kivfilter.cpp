// TKivDataSet: filters handed to the engine, FindFirst/FindNext, Locate and
// Lookup.
#include <algorithm>
#include <cstring>

#include "checker/kivdata.h"
#include "checker/kivfilter.h"

namespace checker {

using namespace kivds;

namespace {

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Index of the ')' closing the '(' at `open`, skipping "...", '...' and
// [...]; npos when there is none.
size_t ClosingParenthesis(const std::string& text, size_t open) {
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    const char c = text[i];
    if (IsQuote(c) || c == '[') {
      const size_t end = text.find(c == '[' ? ']' : c, i + 1);
      if (end == std::string::npos) return std::string::npos;
      i = end;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return i;
    }
  }
  return std::string::npos;
}

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> parts, out;
  ExtractStrings(";", "", names, parts);
  for (const std::string& p : parts) out.push_back(Trim(p));
  return out;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ";") + n;
  return out;
}

// No scope, no condition, not unique (except on the engine's own tables) and
// not custom: a seek on it finds any record of the table.
bool IndexUsableForSeek(TKivDataSet* ds, KIVHANDLE index) {
  for (uint16_t which : {KIV_SCOPE_TOP, KIV_SCOPE_BOTTOM}) {
    char buf[4084] = {};
    uint32_t length = 4082;
    const KIVRESULT rc = KivGetScope(index, which, buf, &length);
    if (rc == KIV_ERR_BUFFER_TOO_SMALL || (rc == KIV_OK && length > 0)) return false;
    if (rc != KIV_OK && rc != KIV_ERR_NO_SCOPE) CheckQELResult(ds, rc);
  }
  char condition[11] = {};
  uint32_t length = 10;
  const KIVRESULT rc = KivGetIndexCondition(index, condition, &length);
  if (rc == KIV_ERR_BUFFER_TOO_SMALL || (rc == KIV_OK && length > 0)) return false;
  CheckQELResult(ds, rc);
  uint32_t flags = 0;
  CheckQELResult(ds, KivGetIndexFlags(index, &flags));
  if ((flags & KIV_INDEXFLAG_UNIQUE) != 0 && ds->SourceTableType() != ttKivKDT) return false;
  uint16_t custom = 0;
  const KIVRESULT customRc = KivIsIndexCustom(index, &custom);
  if (customRc != KIV_ERR_NOT_APPLICABLE) CheckQELResult(ds, customRc);
  return customRc != KIV_OK || custom != 1;
}

// Goes through the records of the order until one satisfies the expression.
bool ScanByExpression(TKivDataSet* ds, const std::string& expression) {
  const KIVHANDLE active = ds->ActiveHandle();
  CheckQELResult(ds, KivGotoTop(active));
  for (;;) {
    uint16_t eof = 0;
    CheckQELResult(ds, KivAtEOF(ds->BaseHandle(), &eof));
    if (eof != 0) return false;
    uint16_t result = 0;
    CheckQELResult(ds, KivEvalLogicalExpr(active, expression.c_str(), &result));
    if (result == 1) return true;
    CheckQELResult(ds, KivSkip(active, 1));
  }
}

bool IsCharacter(uint16_t engineType) { return engineType == KIV_FT_CHARACTER || engineType == KIV_FT_CICHARACTER; }

// The raw key of the key fields' values in `image` on `index`.
std::string BuildKey(TKivDataSet* ds, KIVHANDLE index, const std::vector<TField*>& fields, const uint8_t* image,
                     const std::string& lastSegment, bool partial, char fill) {
  CheckQELResult(ds, KivInitRawKey(index));
  for (TField* field : fields) {
    const TQELFieldDef* def = ds->QELFieldDefs().ByNumber(field->FieldNo());
    if (def == nullptr) continue;
    const std::string& name = def->Name;
    const uint8_t* bytes = image + def->Offset;
    if (!IsCharacter(def->EngineType)) {
      CheckQELResult(ds, KivSetFieldRaw(index, name.c_str(), bytes, def->Length));
      continue;
    }
    uint32_t length = def->Length;
    std::string value(reinterpret_cast<const char*>(bytes), length);
    if (partial && UpperCase(name) == lastSegment) {
      while (length > 0 && (value[length - 1] == ' ' || value[length - 1] == '\0')) --length;
      value.resize(length);
      value.append(def->Length - length, fill);
    }
    CheckQELResult(ds, KivSetField(index, name.c_str(), value.data(), def->Length));
  }
  std::string key(4084, '\0');
  uint32_t length = 4082;
  CheckQELResult(ds, KivBuildRawKey(index, key.data(), &length));
  key.resize(std::min<uint32_t>(length, 4082));
  return key;
}

// Seeks the key fields' values on `index`; with a partial key only the
// given characters of the last segment count.
bool SeekOnIndex(TKivDataSet* ds, KIVHANDLE index, const std::vector<TField*>& fields, const uint8_t* image,
                 const std::string& lastSegment, bool partial) {
  std::string key = BuildKey(ds, index, fields, image, lastSegment, partial, ' ');
  if (partial) {
    // The key keeps the blanks that pad the last value; what is common to it
    // and a key padded otherwise is the part the caller gave.
    const std::string other = BuildKey(ds, index, fields, image, lastSegment, partial, '\x7f');
    size_t common = 0;
    while (common < key.size() && common < other.size() && key[common] == other[common]) ++common;
    key.resize(common);
  }
  uint16_t found = 0;
  CheckQELResult(ds, KivSeek(index, key.data(), static_cast<uint32_t>(key.size()), KIV_KEY_RAW, KIV_SEEK_SOFT, &found));
  return found != 0;
}

// 5005 when a condition is set, 5037 when none.
bool ConditionExists(TKivDataSet* ds, KIVRESULT rc) {
  if (rc == KIV_ERR_BUFFER_TOO_SMALL) return true;
  if (rc == KIV_ERR_NO_FILTER) return false;
  CheckQELResult(ds, rc);
  return true;
}

}  // namespace

// ---- Texts -----------------------------------------------------------------

std::string StripFilterWildcards(const std::string& source, uint16_t& exact) {
  std::string text = source;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsQuote(c)) {
      const size_t close = text.find(c, i + 1);
      if (close == std::string::npos) break;
      const size_t star = close - 1;
      if (star > i && text[star] == '*' && text.find_first_not_of('*', i + 1) < star) {
        text.erase(star, 1);
        exact = 0;
        i = close;  // the closing quote moved one to the left
      } else {
        i = close + 1;
      }
      continue;
    }
    if (text.size() - i > 8 && UpperCase(std::string_view(text).substr(i, 8)) == "CONTAINS") {
      size_t open = i + 8;
      while (open < text.size() && text[open] == ' ') ++open;
      if (open < text.size() && text[open] == '(') {
        const size_t close = ClosingParenthesis(text, open);
        if (close != std::string::npos) {
          i = close + 1;
          continue;
        }
      }
    }
    ++i;
  }
  return text;
}

bool MatchKeyFieldsToIndex(const std::string& indexFields, const std::string& keyFields, std::string& lastSegment) {
  const std::vector<std::string> index = SplitNames(indexFields);
  const std::vector<std::string> keys = SplitNames(keyFields);
  if (keys.empty()) return false;
  std::vector<bool> covered(std::min<size_t>(index.size(), 100), false);
  size_t highest = 0;
  for (const std::string& key : keys) {
    size_t position = 0;
    for (size_t i = 0; i < covered.size() && position == 0; ++i)
      if (SameText(index[i], key)) position = i + 1;
    if (position == 0) return false;
    covered[position - 1] = true;
    highest = std::max(highest, position);
  }
  for (size_t i = 0; i < highest; ++i)
    if (!covered[i]) return false;
  lastSegment = UpperCase(index[highest - 1]);
  return true;
}

std::string TKivDataSet::TranslateFilterText(uint16_t& exact) {
  exact = 1;
  const std::string& filter = Filter();
  const bool kdt = EngineOpenType() == KIV_TABLE_KDT;
  // Through the engine's name conversion on its own tables; a too small
  // buffer is retried with the length the engine asks for.
  auto convert = [&](auto function, const std::string& text, uint32_t room) {
    for (int attempt = 0;; ++attempt) {
      std::string buf(room + 1, '\0');
      uint32_t length = room;
      const KIVRESULT rc = function(baseHandle_, text.c_str(), buf.data(), &length);
      if (rc == KIV_ERR_BUFFER_TOO_SMALL && attempt == 0 && length > room) {
        room = length;
        continue;
      }
      CheckQELResult(this, rc);
      return std::string(buf.data(), strnlen(buf.data(), std::min(length, room)));
    }
  };
  std::string text = kdt ? convert(KivExpressionLongToShort, filter, static_cast<uint32_t>(filter.size() + 51)) : filter;
  text = StripFilterWildcards(text, exact);
  if (kdt) text = convert(KivExpressionShortToLong, text, static_cast<uint32_t>(filter.size() + 1));
  return text;
}

std::string TKivDataSet::BuildFilterString(const std::vector<TField*>& fields, bool caseInsensitive) {
  if (State() != dsFilter) KivDataSetError(this, "Internal Error, << BuildFilterString >>");
  std::string out;
  for (TField* field : fields) {
    if (!out.empty()) out += " AND ";
    const std::string& name = field->FieldName();
    if (field->IsNull()) {
      out += "(empty(" + name + "))";
      continue;
    }
    const TQELFieldDef* def = qelFieldDefs_.ByNumber(field->FieldNo());
    const uint16_t type = def != nullptr ? def->EngineType : 0;
    std::string value = field->AsString();
    switch (type) {
      case KIV_FT_LOGICAL: value = field->AsBoolean() ? ".TRUE." : ".FALSE."; break;
      case KIV_FT_NUMERIC:
      case KIV_FT_DOUBLE:
      case KIV_FT_CURDOUBLE:
      case KIV_FT_MONEY: std::replace(value.begin(), value.end(), FormatSettings().DecimalSeparator, '.'); break;
      case KIV_FT_DATE: value = "ctod(\"" + value + "\")"; break;
      case KIV_FT_TIME: value = "ctot(\"" + value + "\")"; break;
      case KIV_FT_TIMESTAMP:
      case KIV_FT_MODTIME: value = "ctots(\"" + value + "\")"; break;
      case KIV_FT_CHARACTER:
      case KIV_FT_CICHARACTER: {
        std::string quoted;
        for (char c : value) quoted += c == '"' ? std::string("\"+ Chr(34) + \"") : std::string(1, c);
        value = "\"" + quoted + "\"";
        break;
      }
      default: break;
    }
    if (IsCharacter(type) && caseInsensitive) out += "(UPPER(" + name + ")=UPPER(" + value + "))";
    else out += "(" + name + "=" + value + ")";
  }
  return out;
}

// ---- Filters -------------------------------------------------------------

void TKivDataSet::ActivateFilter() {
  if (Filter().empty()) {
    DeactivateFilter();
    return;
  }
  uint16_t exact = 1;
  const std::string text = TranslateFilterText(exact);
  CheckQELResult(this, KivSetExact22(baseHandle_, exact));
  if (tableOptions_.KivOptimizedFilters()) {
    const TKivAOFTypes kind = tableOptions_.KivAOFType();
    uint16_t options = kind == TKivAOFTypes::atKeySet ? KIV_AOF_KEYSET : kind == TKivAOFTypes::atFixed ? KIV_AOF_FIXED
                                                                                                      : KIV_AOF_DYNAMIC;
    options += tableOptions_.KivAOFResolveImmediate() ? KIV_AOF_RESOLVE_NOW : KIV_AOF_RESOLVE_LATER;
    CheckQELResult(this, KivSetAOF(baseHandle_, text.c_str(), options));
  } else {
    CheckQELResult(this, KivSetFilter(baseHandle_, text.c_str()));
  }
}

void TKivDataSet::DeactivateFilter() {
  if (!HasBaseHandle()) return;
  const KIVRESULT rc = tableOptions_.KivOptimizedFilters() ? KivClearAOF(baseHandle_) : KivClearFilter(baseHandle_);
  if (rc != KIV_ERR_NO_FILTER) CheckQELResult(this, rc);
}

void TKivDataSet::SetFiltered(bool value) {
  const bool old = Filtered();
  TDataSet::SetFiltered(value);
  if (HasBaseHandle()) {
    try {
      if (value) ActivateFilter();
      else DeactivateFilter();
    } catch (...) {
      TDataSet::SetFiltered(old);  // the engine still filters as before
      throw;
    }
  }
  if (Active()) First();
}

void TKivDataSet::SetFilterText(const std::string& text) {
  TDataSet::SetFilterText(text);
  if (Active() && Filtered()) {
    ActivateFilter();
    First();
  }
}

void TKivTableOptions::SetKivOptimizedFilters(bool v) {
  if (v == optimizedFilters_ || dataSet_ == nullptr || !dataSet_->Active() || dataSet_->InState(csLoading) ||
      !dataSet_->Filtered()) {
    optimizedFilters_ = v;
    return;
  }
  const bool old = optimizedFilters_;
  try {
    dataSet_->DeactivateFilter();
    optimizedFilters_ = v;
    dataSet_->ActivateFilter();
    dataSet_->First();
  } catch (...) {
    optimizedFilters_ = old;
    try {
      dataSet_->ActivateFilter();
    } catch (...) {
    }
    throw;
  }
}

// ---- FindFirst / FindNext ------------------------------------------------

bool TKivDataSet::ScanWithFilterEvent(bool forward) {
  if (!OnFilterRecord()) KivDataSetError(this, "Expected OnFilterRecord event.");
  TRecordBuffer buffer = AllocRecordBuffer();
  struct Release {
    TKivDataSet* ds;
    TRecordBuffer& buffer;
    ~Release() { ds->FreeRecordBuffer(buffer); }
  } release{this, buffer};
  for (;;) {
    ReadRecordIntoBuffer(buffer);
    if (tableOptions_.KivCalcFieldsBeforeFilter()) GetCalcFields(buffer);
    bool accept = true;
    FilterRecord(buffer, accept);
    if (accept) return true;
    CheckQELResult(this, KivSkip(activeHandle_, forward ? 1 : -1));
    uint16_t end = 0;
    CheckQELResult(this, forward ? KivAtEOF(baseHandle_, &end) : KivAtBOF(baseHandle_, &end));
    if (end != 0) return false;
  }
}

bool TKivDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  const bool temporary = !Filtered();
  if (temporary) ActivateFilter();
  bool found = false;
  try {
    uint16_t end = 0;
    if (goForward) {
      CheckQELResult(this, restart ? KivGotoTop(activeHandle_) : KivSkip(activeHandle_, 1));
      CheckQELResult(this, KivAtEOF(baseHandle_, &end));
    } else {
      CheckQELResult(this, restart ? KivGotoBottom(activeHandle_) : KivSkip(activeHandle_, -1));
      CheckQELResult(this, KivAtBOF(baseHandle_, &end));
    }
    if (end == 0 && OnFilterRecord()) end = ScanWithFilterEvent(goForward) ? 0 : 1;
    uint16_t bof = 0, eof = 0;
    CheckQELResult(this, KivAtBOF(baseHandle_, &bof));
    CheckQELResult(this, KivAtEOF(baseHandle_, &eof));
    if (end == 0 && bof == 0 && eof == 0) {
      Resync(rmExact | rmCenter);
      found = true;
    }
  } catch (...) {
    if (temporary) {
      try {
        DeactivateFilter();
      } catch (...) {
      }
    }
    throw;
  }
  if (temporary) DeactivateFilter();
  SetFound(found);
  if (found) DoAfterScroll();
  return found;
}

// ---- Locate and Lookup ---------------------------------------------------

bool TKivDataSet::LocateRecord(const std::string& keyFields, const Variant& keyValues, unsigned options) {
  CheckBrowseMode();
  uint32_t saved = 0;
  CheckQELResult(this, KivGetBookmark(baseHandle_, &saved));
  std::vector<TField*> fields;
  GetFieldList(fields, keyFields);
  const bool partial = (options & loPartialKey) != 0;
  const bool caseInsensitive = (options & loCaseInsensitive) != 0;

  TRecordBuffer buffer = AllocRecordBuffer();
  const TDataSetState previous = SetTempState(dsFilter);
  const TRecordBuffer savedFilterBuffer = filterBuffer_;
  filterBuffer_ = buffer;
  bool found = false;
  // Puts back what the search changed; it runs on every way out.
  struct Restore {
    TKivDataSet* ds;
    TRecordBuffer& buffer;
    TRecordBuffer savedFilterBuffer;
    TDataSetState previous;
    ~Restore() {
      ds->filterBuffer_ = savedFilterBuffer;
      ds->RestoreState(previous);
      ds->FreeRecordBuffer(buffer);
    }
  };
  try {
    Restore restore{this, buffer, savedFilterBuffer, previous};
    InternalInitRecord(buffer);
    for (size_t i = 0; i < fields.size(); ++i) {
      Variant value = keyValues;
      if (keyValues.IsArray()) value = i < keyValues.Items().size() ? keyValues.Items()[i] : Variant::Null();
      fields[i]->SetValue(value);
    }

    // An index to seek with.
    KIVHANDLE seekIndex = 0;
    std::string lastSegment;
    if (!caseInsensitive && !(OnFilterRecord() && Filtered())) {
      auto matches = [&](KIVHANDLE index) {
        return MatchKeyFieldsToIndex(JoinNames(SegmentNames(index)), keyFields, lastSegment);
      };
      if (HasActiveIndex() && !IndexUsableForSeek(this, activeHandle_)) {
        // A restricted order: seeking elsewhere could leave it.
        if (matches(activeHandle_)) seekIndex = activeHandle_;
      } else if (HasActiveIndex() && matches(activeHandle_)) {
        seekIndex = activeHandle_;
      } else {
        uint16_t count = 0;
        CheckQELResult(this, KivGetNumIndexes(baseHandle_, &count));
        std::vector<KIVHANDLE> indexes(count);
        if (count > 0) CheckQELResult(this, KivGetAllIndexes(baseHandle_, indexes.data(), &count));
        for (uint16_t i = 0; i < count && i < indexes.size() && seekIndex == 0; ++i)
          if (matches(indexes[i]) && IndexUsableForSeek(this, indexes[i])) seekIndex = indexes[i];
      }
    }

    if (seekIndex != 0) {
      found = SeekOnIndex(this, seekIndex, fields, buffer, lastSegment, partial);
    } else {
      const std::string expression = BuildFilterString(fields, caseInsensitive);
      uint32_t probe = 0;
      const bool hasAof = ConditionExists(this, KivGetAOF(baseHandle_, nullptr, &probe));
      probe = 0;
      const bool hasFilter = ConditionExists(this, KivGetFilter(baseHandle_, nullptr, &probe));
      uint16_t exact = 1;
      CheckQELResult(this, KivGetExact22(baseHandle_, &exact));
      bool slotTaken = false;
      auto cleanUp = [&] {
        KivSetExact22(baseHandle_, exact);
        if (!slotTaken) return;
        if (!hasAof) KivClearAOF(baseHandle_);
        else KivClearFilter(baseHandle_);
      };
      try {
        CheckQELResult(this, KivSetExact22(baseHandle_, partial ? 0 : 1));
        if (hasAof && hasFilter) {
          found = ScanByExpression(this, expression);
        } else {
          CheckQELResult(this, hasAof ? KivSetFilter(baseHandle_, expression.c_str())
                                      : KivSetAOF(baseHandle_, expression.c_str(), KIV_AOF_RESOLVE_LATER));
          slotTaken = true;
          CheckQELResult(this, KivGotoTop(activeHandle_));
          uint16_t eof = 0;
          CheckQELResult(this, KivAtEOF(baseHandle_, &eof));
          found = eof == 0;
          if (found && OnFilterRecord() && Filtered()) found = ScanWithFilterEvent(true);
        }
      } catch (...) {
        cleanUp();
        throw;
      }
      cleanUp();
    }
  } catch (...) {
    KivGotoBookmark(baseHandle_, saved);
    throw;
  }
  if (!found) KivGotoBookmark(baseHandle_, saved);
  return found;
}

bool TKivDataSet::Locate(const std::string& keyFields, const Variant& keyValues, unsigned options) {
  DoBeforeScroll();
  const bool found = LocateRecord(keyFields, keyValues, options);
  CursorPosChanged();
  if (found) {
    Resync(rmExact | rmCenter);
    DoAfterScroll();
  }
  return found;
}

Variant TKivDataSet::Lookup(const std::string& keyFields, const Variant& keyValues, const std::string& resultFields) {
  Variant result = Variant::Null();
  if (keyValues.IsNull()) return result;
  const bool found = LocateRecord(keyFields, keyValues, 0);
  CursorPosChanged();
  if (!found) return result;
  TRecordBuffer buffer = AllocRecordBuffer();
  const TRecordBuffer savedCalc = CalcBuffer();
  const TDataSetState previous = SetTempState(dsCalcFields);
  try {
    SetCalcBuffer(buffer);
    ReadRecordIntoBuffer(buffer);
    CalculateFields(buffer);
    std::vector<TField*> fields;
    GetFieldList(fields, resultFields);
    if (fields.size() == 1) {
      result = fields[0]->Value();
    } else {
      std::vector<Variant> values;
      for (TField* f : fields) values.push_back(f->Value());
      result = VarArrayOf(std::move(values));
    }
  } catch (...) {
    SetCalcBuffer(savedCalc);
    RestoreState(previous);
    FreeRecordBuffer(buffer);
    throw;
  }
  SetCalcBuffer(savedCalc);
  RestoreState(previous);
  FreeRecordBuffer(buffer);
  return result;
}

}  // namespace checker
