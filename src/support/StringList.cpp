#include "support/StringList.h"

#include <algorithm>
#include <stdexcept>

namespace sdm {

TStringList& TStringList::operator=(const TStringList& o) {
  if (this != &o) Assign(o.items_);
  return *this;
}

int TStringList::IndexOf(const std::string& s) const {
  auto it = std::find(items_.begin(), items_.end(), s);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

static void CheckIndex(int index, size_t size, bool allowEnd) {
  if (index < 0 || static_cast<size_t>(index) > size || (!allowEnd && static_cast<size_t>(index) == size))
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

void TStringList::Add(const std::string& s) {
  items_.push_back(s);
  Changed();
}

void TStringList::Insert(int index, const std::string& s) {
  CheckIndex(index, items_.size(), true);
  items_.insert(items_.begin() + index, s);
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index, items_.size(), false);
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Put(int index, const std::string& s) {
  CheckIndex(index, items_.size(), false);
  items_[static_cast<size_t>(index)] = s;
  Changed();
}

void TStringList::Move(int from, int to) {
  CheckIndex(from, items_.size(), false);
  CheckIndex(to, items_.size(), false);
  if (from == to) return;
  std::string s = std::move(items_[static_cast<size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(s));
  Changed();
}

void TStringList::Exchange(int a, int b) {
  CheckIndex(a, items_.size(), false);
  CheckIndex(b, items_.size(), false);
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
  Changed();
}

void TStringList::Clear() {
  items_.clear();
  Changed();
}

void TStringList::Assign(const std::vector<std::string>& items) {
  items_ = items;
  Changed();
}

TStringList::Token TStringList::Subscribe(Handler h) {
  std::lock_guard<std::mutex> lock(subMutex_);
  Token t = nextToken_++;
  subscribers_.emplace_back(t, std::move(h));
  return t;
}

void TStringList::Unsubscribe(Token t) {
  std::lock_guard<std::mutex> lock(subMutex_);
  subscribers_.erase(
      std::remove_if(subscribers_.begin(), subscribers_.end(), [t](const auto& p) { return p.first == t; }),
      subscribers_.end());
}

int TStringList::SubscriberCount() const {
  std::lock_guard<std::mutex> lock(subMutex_);
  return static_cast<int>(subscribers_.size());
}

void TStringList::Changed() {
  std::vector<Handler> handlers;
  {
    std::lock_guard<std::mutex> lock(subMutex_);
    for (const auto& p : subscribers_) handlers.push_back(p.second);
  }
  for (const auto& h : handlers) h();
}

}  // namespace sdm
