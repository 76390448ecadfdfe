#include "kivds/classes.h"

#include <algorithm>
#include <cstring>

namespace kivds {

// ---- Components ----------------------------------------------------------

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) {
    owner_->Insert(this);
    if (owner_->InState(csDesigning)) state_ |= csDesigning;
  }
}

TComponent::~TComponent() {
  Destroying();
  while (!components_.empty()) {
    TComponent* child = components_.back();
    components_.pop_back();
    child->owner_ = nullptr;
    delete child;
  }
  if (owner_ != nullptr) owner_->Remove(this);
}

void TComponent::Remove(TComponent* child) {
  auto it = std::find(components_.begin(), components_.end(), child);
  if (it != components_.end()) components_.erase(it);
}

namespace {
bool IsIdentifier(const std::string& s) {
  if (s.empty()) return true;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!alpha(s[0])) return false;
  for (char c : s)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}
}  // namespace

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!IsIdentifier(name)) throw Exception("'" + name + "' is not a valid component name");
  if (owner_ != nullptr && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this)
      throw Exception("A component named " + name + " already exists");
  }
  name_ = name;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::Destroying() {
  if (state_ & csDestroying) return;
  state_ |= csDestroying;
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::SetDesigning(bool designing) {
  if (designing) state_ |= csDesigning;
  else state_ &= ~static_cast<unsigned>(csDesigning);
  for (TComponent* c : components_) c->SetDesigning(designing);
}

void TComponent::BeginLoading() {
  state_ |= csLoading | csReading;
  for (TComponent* c : components_) c->BeginLoading();
}

void TComponent::EndLoading() {
  state_ &= ~static_cast<unsigned>(csReading);
  // Loaded may create or free components; walk a copy.
  std::vector<TComponent*> children = components_;
  for (TComponent* c : children) c->EndLoading();
  Loaded();
}

void TComponent::Loaded() { state_ &= ~static_cast<unsigned>(csLoading); }

// ---- TStrings ------------------------------------------------------------

void TStrings::Put(int index, const std::string& s) {
  void* object = GetObject(index);
  BeginUpdate();
  Delete(index);
  Insert(index, s);
  PutObject(index, object);
  EndUpdate();
}

int TStrings::Add(const std::string& s) {
  const int index = Count();
  Insert(index, s);
  return index;
}

int TStrings::AddObject(const std::string& s, void* object) {
  int index = Add(s);
  PutObject(index, object);
  return index;
}

int TStrings::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), s)) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string out;
  for (int i = 0; i < Count(); ++i) out += Get(i) + "\r\n";
  return out;
}

void TStrings::SetText(std::string_view text) {
  BeginUpdate();
  Clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      Add(std::string(text.substr(pos)));
      break;
    }
    Add(std::string(text.substr(pos, end - pos)));
    pos = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  EndUpdate();
}

std::string TStrings::Join(std::string_view separator) const {
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) out += separator;
    out += Get(i);
  }
  return out;
}

void TStrings::Assign(const TStrings& source) {
  if (&source == this) return;
  BeginUpdate();
  Clear();
  for (int i = 0; i < source.Count(); ++i) AddObject(source.Get(i), source.GetObject(i));
  EndUpdate();
}

void TStrings::AddStrings(const std::vector<std::string>& lines) {
  BeginUpdate();
  for (const std::string& s : lines) Add(s);
  EndUpdate();
}

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> out;
  for (int i = 0; i < Count(); ++i) out.push_back(Get(i));
  return out;
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

// ---- TStringList ---------------------------------------------------------

TStringList::TStringList(std::initializer_list<std::string> items) {
  for (const std::string& s : items) items_.push_back({s, nullptr});
}

namespace {
[[noreturn]] void IndexError(int index) {
  throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}
}  // namespace

std::string TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[index].first;
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index >= Count()) IndexError(index);
  Changing();
  items_[index].first = s;
  Changed();
}

void TStringList::Insert(int index, const std::string& s) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) IndexError(index);
  Changing();
  items_.insert(items_.begin() + index, {s, nullptr});
  Changed();
}

int TStringList::Add(const std::string& s) {
  if (!sorted_) {
    Changing();
    items_.push_back({s, nullptr});
    Changed();
    return Count() - 1;
  }
  int index = 0;
  if (Find(s, index)) {
    if (duplicates_ == TDuplicates::dupIgnore) return index;
    if (duplicates_ == TDuplicates::dupError)
      throw EStringListError("String list does not allow duplicates");
  }
  Changing();
  items_.insert(items_.begin() + index, {s, nullptr});
  Changed();
  return index;
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) IndexError(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  Changed();
}

void* TStringList::GetObject(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[index].second;
}

void TStringList::PutObject(int index, void* object) {
  if (index < 0 || index >= Count()) IndexError(index);
  items_[index].second = object;
}

int TStringList::Compare(std::string_view a, std::string_view b) const {
  return caseSensitive_ ? a.compare(b) : CompareText(a, b);
}

int TStringList::IndexOf(std::string_view s) const {
  if (!sorted_) {
    for (int i = 0; i < Count(); ++i)
      if (Compare(items_[i].first, s) == 0) return i;
    return -1;
  }
  int index = 0;
  return Find(s, index) ? index : -1;
}

bool TStringList::Find(std::string_view s, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = Compare(items_[mid].first, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != TDuplicates::dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TStringList::Sort() {
  if (Count() < 2) return;
  Changing();
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const auto& a, const auto& b) { return Compare(a.first, b.first) < 0; });
  Changed();
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == caseSensitive_) return;
  caseSensitive_ = value;
  if (sorted_) Sort();
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating) Changing();
  else Changed();
}

// ---- Streams -------------------------------------------------------------

int64_t TStream::Size() {
  const int64_t pos = Position();
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (Write(buffer, count) != count) throw EStreamError("Stream write error");
}

std::string TStream::ReadAll() {
  std::string out;
  char chunk[4096];
  int64_t n;
  while ((n = Read(chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(n));
  return out;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  const int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > Size()) data_.resize(static_cast<size_t>(position_ + count));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? position_
                                                    : Size();
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

// ---- Collections ---------------------------------------------------------

int TCollectionItem::Index() const { return collection_ ? collection_->IndexOf(this) : -1; }

int TCollectionBase::IndexOf(const TCollectionItem* item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == item) return static_cast<int>(i);
  return -1;
}

TCollectionItem* TCollectionBase::AddItem(std::unique_ptr<TCollectionItem> item) {
  item->collection_ = this;
  items_.push_back(std::move(item));
  return items_.back().get();
}

}  // namespace kivds
