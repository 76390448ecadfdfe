// Component, string-list, stream, collection and lock classes that the
// dataset and form layers build on.
#ifndef KIVDS_CLASSES_H
#define KIVDS_CLASSES_H

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kivds/rtl.h"

namespace kivds {

class TPersistent {
 public:
  virtual ~TPersistent() = default;
};

// ---- Components ----------------------------------------------------------

enum TComponentStateFlag : unsigned {
  csLoading = 1,
  csReading = 2,
  csDestroying = 4,
  csDesigning = 8,
};

// A named object that may own others: an owner destroys what it owns (the
// last created first). A component removes itself from its owner when it is
// destroyed on its own.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  // Renames; a name must be an identifier and unique among the owner's
  // components (compared without case). Descendants extend it.
  virtual void SetName(const std::string& name);
  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }
  TComponent* FindComponent(std::string_view name) const;

  unsigned ComponentState() const { return state_; }
  bool InState(TComponentStateFlag flag) const { return (state_ & flag) != 0; }
  void SetDesigning(bool designing);
  // Marks the component (and what it owns) as being destroyed; a descendant
  // calls it first thing in its destructor so that closing quietly skips
  // events. An owner marks its components before it frees them.
  void Destroying();

  // Loading from stored settings: BeginLoading marks this component and the
  // ones it owns as loading and reading; the caller sets properties; then
  // EndLoading clears reading and calls Loaded on the owned components and
  // then on this one.
  void BeginLoading();
  void EndLoading();

 protected:
  // Called once every property is set after loading; clears csLoading.
  virtual void Loaded();

 private:
  void Insert(TComponent* child) { components_.push_back(child); }
  void Remove(TComponent* child);

  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  unsigned state_ = 0;
};

// Event with the component that raised it.
using TNotifyEvent = std::function<void(TComponent* sender)>;

// ---- Strings -------------------------------------------------------------

// An ordered list of texts, each with an optional object pointer. Lists shown
// by controls implement it over the control's own storage.
class TStrings : public TPersistent {
 public:
  virtual int Count() const = 0;
  virtual std::string Get(int index) const = 0;
  virtual void Put(int index, const std::string& s);
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual void* GetObject(int) const { return nullptr; }
  virtual void PutObject(int, void*) {}
  virtual int Add(const std::string& s);
  int AddObject(const std::string& s, void* object);
  virtual int IndexOf(std::string_view s) const;  // without case

  std::string operator[](int index) const { return Get(index); }
  // Lines joined by CR LF, each line ended by it; SetText splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(std::string_view text);
  // Texts joined by the given separator, without a trailing one.
  std::string Join(std::string_view separator) const;
  void Assign(const TStrings& source);
  void AddStrings(const std::vector<std::string>& lines);
  std::vector<std::string> ToVector() const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

 protected:
  // Told when updating starts (true) and ends (false).
  virtual void SetUpdateState(bool) {}

 private:
  int updateCount_ = 0;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> items);

  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Get(int index) const override;
  void Put(int index, const std::string& s) override;
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override;
  void* GetObject(int index) const override;
  void PutObject(int index, void* object) override;
  int Add(const std::string& s) override;
  int IndexOf(std::string_view s) const override;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value);
  // Binary search of a sorted list: true when found; `index` is the position
  // of the match or where the text would go.
  bool Find(std::string_view s, int& index) const;
  void Sort();

  std::function<void(TStringList*)> OnChange;
  std::function<void(TStringList*)> OnChanging;

 protected:
  void SetUpdateState(bool updating) override;

 private:
  int Compare(std::string_view a, std::string_view b) const;
  void Changing();
  void Changed();
  std::vector<std::pair<std::string, void*>> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

// ---- Streams -------------------------------------------------------------

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t p) { Seek(p, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  void ReadBuffer(void* buffer, int64_t count);  // raises when short
  void WriteBuffer(const void* buffer, int64_t count);
  std::string ReadAll();  // from the current position to the end
};

class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  virtual void SetSize(int64_t size);
  void Clear();
  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// ---- Collections ---------------------------------------------------------

class TCollectionBase;

class TCollectionItem : public TPersistent {
 public:
  TCollectionBase* Collection() const { return collection_; }
  int Index() const;

 private:
  friend class TCollectionBase;
  TCollectionBase* collection_ = nullptr;
};

// Owns its items; the typed TCollection<T> gives typed access.
class TCollectionBase : public TPersistent {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  int IndexOf(const TCollectionItem* item) const;

 protected:
  TCollectionItem* AddItem(std::unique_ptr<TCollectionItem> item);
  TCollectionItem* ItemAt(int index) const { return items_.at(index).get(); }

 private:
  std::vector<std::unique_ptr<TCollectionItem>> items_;
};

template <class T>
class TCollection : public TCollectionBase {
 public:
  template <class... Args>
  T* Add(Args&&... args) {
    return static_cast<T*>(AddItem(std::make_unique<T>(std::forward<Args>(args)...)));
  }
  T* Items(int index) const { return static_cast<T*>(ItemAt(index)); }
  T* operator[](int index) const { return Items(index); }
};

// ---- Locks ---------------------------------------------------------------

class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }
  // for std::lock_guard
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

// A list guarded by its own lock. LockList holds the lock until UnlockList.
template <class T>
class TThreadList {
 public:
  std::vector<T>& LockList() {
    mutex_.lock();
    return items_;
  }
  void UnlockList() { mutex_.unlock(); }
  // Adds unless present (duplicates are ignored).
  void Add(const T& item) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const T& x : items_)
      if (x == item) return;
    items_.push_back(item);
  }
  // Replaces the first occurrence by an empty value; Pack drops those.
  void Remove(const T& item) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (T& x : items_)
      if (x == item) {
        x = T{};
        return;
      }
  }
  void Pack() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::erase(items_, T{});
  }
  size_t Count() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return items_.size();
  }

 private:
  std::recursive_mutex mutex_;
  std::vector<T> items_;
};

}  // namespace kivds

#endif
