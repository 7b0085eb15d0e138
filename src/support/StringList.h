#pragma once
// TStringList: an ordered list of strings that announces every change of its
// contents to any number of subscribers. The picture list of a slideshow is one:
// each frame server built over it subscribes, so none keeps showing a picture
// that is no longer at its index.
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sdm {

class TStringList {
public:
  using Handler = std::function<void()>;
  using Token = size_t;

  TStringList() = default;
  explicit TStringList(std::vector<std::string> items) : items_(std::move(items)) {}
  // Copies take the strings only; subscriptions stay with the original.
  TStringList(const TStringList& o) : items_(o.items_) {}
  TStringList& operator=(const TStringList& o);

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
  const std::string& Strings(int i) const { return (*this)[i]; }
  const std::vector<std::string>& Items() const { return items_; }
  int IndexOf(const std::string& s) const;

  // Every mutation below notifies the subscribers once, after the change.
  void Add(const std::string& s);
  void Insert(int index, const std::string& s);
  void Delete(int index);
  void Put(int index, const std::string& s);
  void Move(int from, int to);
  void Exchange(int a, int b);
  void Clear();
  void Assign(const std::vector<std::string>& items);

  // Subscriptions: Subscribe returns a token that Unsubscribe takes. A handler
  // may not subscribe or unsubscribe from within a notification.
  Token Subscribe(Handler h);
  void Unsubscribe(Token t);
  int SubscriberCount() const;

private:
  void Changed();

  std::vector<std::string> items_;
  mutable std::mutex subMutex_;
  std::vector<std::pair<Token, Handler>> subscribers_;
  Token nextToken_ = 1;
};

}  // namespace sdm
