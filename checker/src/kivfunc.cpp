// CompareTableWithDictionary and the field-attribute readers it uses.
#include "checker/kivfunc.h"

#include <vector>

#include "checker/kiverror.h"
#include "checker/kivquery.h"
#include "checker/kivtable.h"
#include "kivds/rtl.h"

namespace checker {

using namespace kivds;

namespace {

struct CatalogueRow {
  std::string name;
  int type = 0;
  int length = 0;
  int decimals = 0;
};

std::vector<CatalogueRow> ReadCatalogue(TKivQuery& query) {
  TField* name = query.FieldByName("Name");
  TField* type = query.FieldByName("field_type");
  TField* length = query.FieldByName("field_length");
  TField* decimals = query.FieldByName("field_decimal");
  std::vector<CatalogueRow> rows;
  for (query.First(); !query.Eof(); query.Next())
    rows.push_back(CatalogueRow{name->AsString(), type->AsInteger(), length->AsInteger(), decimals->AsInteger()});
  return rows;
}

bool Listed(const std::string& name, const std::vector<std::string>& names, size_t from) {
  for (size_t k = from; k < names.size(); ++k)
    if (SameText(names[k], name)) return true;
  return false;
}

// The tags of one field against its catalogue row.
std::string CompareField(TKivTable& table, const std::string& fieldName, const CatalogueRow& row) {
  std::string tags;
  if (CompareText(fieldName, row.name) != 0) tags += " [Field Name different]";
  uint16_t type = 0;
  CheckQELResult(&table, KivGetFieldType(table.BaseHandle(), fieldName.c_str(), &type));
  if (type != row.type) tags += " [Field Type different]";
  if (row.type == KIV_FT_NUMERIC || row.type == KIV_FT_CHARACTER || row.type == KIV_FT_RAW ||
      row.type == KIV_FT_CICHARACTER) {
    if (static_cast<int64_t>(FieldLengthOf(table, fieldName)) != row.length) tags += " [Field Length different]";
  }
  if (row.type == KIV_FT_NUMERIC && FieldDecimalsOf(table, fieldName) != row.decimals)
    tags += " [Field Decimals different]";
  return tags;
}

}  // namespace

namespace {

// One attribute of a field; the engine's "no value" (5068) gives 0.
template <class T, class Reader>
T ReadFieldAttribute(TKivDataSet& dataSet, const std::string& fieldName, Reader reader) {
  T value = 0;
  const KIVRESULT rc = reader(dataSet.BaseHandle(), fieldName.c_str(), &value);
  if (rc == KIV_ERR_NO_CURRENT_RECORD) return 0;
  CheckQELResult(&dataSet, rc);
  return value;
}

}  // namespace

uint32_t FieldLengthOf(TKivDataSet& dataSet, const std::string& fieldName) {
  return ReadFieldAttribute<uint32_t>(dataSet, fieldName, &KivGetFieldLength);
}

uint16_t FieldDecimalsOf(TKivDataSet& dataSet, const std::string& fieldName) {
  return ReadFieldAttribute<uint16_t>(dataSet, fieldName, &KivGetFieldDecimals);
}

bool CompareTableWithDictionary(TKivTable& table, TKivQuery& query, std::string& difference) {
  difference.clear();
  const std::vector<CatalogueRow> rows = ReadCatalogue(query);
  std::vector<std::string> fields;
  for (TField* field : table.Fields())
    if (field->FieldKind() == fkData) fields.push_back(field->FieldName());
  std::vector<std::string> rowNames;
  for (const CatalogueRow& row : rows) rowNames.push_back(row.name);

  auto addLine = [&](const std::string& name, const std::string& tags) {
    if (tags.empty()) return;
    if (!difference.empty()) difference += "\r\n";
    difference += "   " + name + " :" + tags;
  };
  static const std::string kNotInDictionary = " [Field not in dictionary]";
  static const std::string kMissingInTable = " [Field missing in table]";

  size_t i = 0;
  size_t j = 0;
  while (i < fields.size() && j < rows.size()) {
    const std::string& field = fields[i];
    const CatalogueRow& row = rows[j];
    if (!SameText(field, row.name)) {
      const bool fieldListedLater = Listed(field, rowNames, j + 1);
      const bool rowFieldLater = Listed(row.name, fields, i + 1);
      if (rowFieldLater && !fieldListedLater) {
        addLine(field, kNotInDictionary);
        ++i;
        continue;
      }
      if (fieldListedLater && !rowFieldLater) {
        addLine(row.name, kMissingInTable);
        ++j;
        continue;
      }
    }
    addLine(field, CompareField(table, field, row));
    ++i;
    ++j;
  }
  for (; i < fields.size(); ++i) addLine(fields[i], kNotInDictionary);
  for (; j < rows.size(); ++j) addLine(rows[j].name, kMissingInTable);
  return difference.empty();
}

}  // namespace checker
