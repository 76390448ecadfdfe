// The structure check of the consistency checker: an open table's fields, as
// the engine reports them from the table file, against the rows of the data
// dictionary's column catalogue for that table.
#ifndef CHECKER_KIVFUNC_H
#define CHECKER_KIVFUNC_H

#include <cstdint>
#include <string>

#include "checker/kivdata.h"

namespace checker {

class TKivTable;
class TKivQuery;

// The length and the decimals of a field of an open dataset's engine
// handle. A field without such a value (the engine answers 5068) gives 0;
// other failures raise.
uint32_t FieldLengthOf(TKivDataSet& dataSet, const std::string& fieldName);
uint16_t FieldDecimalsOf(TKivDataSet& dataSet, const std::string& fieldName);

// Compares the data fields of `table` with the catalogue rows of `query`
// (columns "Name", "field_type", "field_length" and "field_decimal", looked
// up without case, in field order). A field and a row are paired in order;
// each pair is checked for
//   " [Field Name different]"      names differ (ASCII, without case),
//   " [Field Type different]"      the engine type differs from field_type,
//   " [Field Length different]"    only for catalogue types 2, 4, 16 and 20,
//   " [Field Decimals different]"  only for catalogue type 2.
// A table field that the catalogue does not list (while the row at its place
// names a later field) is " [Field not in dictionary]"; a catalogue row whose
// field the table lacks (while the field at its place is listed later) is
// " [Field missing in table]"; so are the fields or rows left over at the
// end. Each faulty field gives one line: three blanks, the field's name,
// " :" and its tags; lines are joined by CR LF. True exactly when the text
// stays empty. The query is read from its first row to its end.
bool CompareTableWithDictionary(TKivTable& table, TKivQuery& query, std::string& difference);

}  // namespace checker

#endif
