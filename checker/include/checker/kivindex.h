// The index files a table opens besides its production index.
#ifndef CHECKER_KIVINDEX_H
#define CHECKER_KIVINDEX_H

#include <string>

#include "checker/kivdata.h"
#include "kivds/classes.h"

namespace checker {

// A sorted list of index file names (duplicates ignored) of one dataset.
// While the dataset is active, adding a name opens the file and deleting or
// clearing closes it; every change marks the index definitions out of date.
// A name with a folder separator is taken as it is, others lie in the
// database path.
class TKivIndexFiles : public kivds::TStringList {
 public:
  // Refuses a null owner.
  explicit TKivIndexFiles(TKivDataSet* owner);
  int Add(const std::string& s) override;
  void Insert(int index, const std::string& s) override;  // sorted: same as Add
  void Delete(int index) override;
  void Clear() override;

 private:
  TKivDataSet* owner_;
};

}  // namespace checker

#endif
