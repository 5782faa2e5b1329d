// A history of bounded size: the most recent `Capacity` entries in the order they arrived (a
// ring), and a count of every entry that ever arrived. A long run keeps its memory; a test
// still sees whole passes of recent traffic.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace sim {

template <typename T, std::size_t Capacity>
class RecentHistory {
  static_assert(Capacity > 0);

 public:
  using value_type = T;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using reference = const T&;
  using const_reference = const T&;

  // Walks the kept entries from the oldest to the newest.
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    const_iterator() = default;
    reference operator*() const { return (*history_)[index_]; }
    pointer operator->() const { return &(*history_)[index_]; }
    reference operator[](difference_type n) const { return *(*this + n); }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator was = *this;
      ++index_;
      return was;
    }
    const_iterator& operator--() {
      --index_;
      return *this;
    }
    const_iterator operator--(int) {
      const_iterator was = *this;
      --index_;
      return was;
    }
    const_iterator& operator+=(difference_type n) {
      index_ = static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
      return *this;
    }
    const_iterator& operator-=(difference_type n) { return *this += -n; }
    friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
    friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
    friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.index_ == b.index_;
    }
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
      return a.index_ <=> b.index_;
    }

   private:
    friend class RecentHistory;
    const_iterator(const RecentHistory* history, std::size_t index)
        : history_(history), index_(index) {}
    const RecentHistory* history_ = nullptr;
    std::size_t index_ = 0;
  };
  using iterator = const_iterator;

  static constexpr std::size_t capacity() { return Capacity; }

  // Keeps `value` as the newest entry; when full, it takes the place of the oldest.
  void push_back(T value) {
    ++total_;
    if (ring_.size() < Capacity) {
      ring_.push_back(std::move(value));
      return;
    }
    ring_[oldest_] = std::move(value);
    oldest_ = (oldest_ + 1) % Capacity;
  }
  void clear() {
    ring_.clear();
    oldest_ = 0;
    total_ = 0;
  }

  // Entries kept (at most Capacity); index 0 is the oldest kept.
  std::size_t size() const { return ring_.size(); }
  bool empty() const { return ring_.empty(); }
  const T& operator[](std::size_t index) const { return ring_[(oldest_ + index) % ring_.size()]; }
  const T& front() const { return (*this)[0]; }
  const T& back() const { return (*this)[size() - 1]; }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }

  // Every entry that ever arrived, kept or not.
  std::uint64_t total() const { return total_; }
  // Entries that arrived but are no longer kept.
  std::uint64_t dropped() const { return total_ - ring_.size(); }

  // The kept entries against a list, oldest first.
  friend bool operator==(const RecentHistory& history, const std::vector<T>& list) {
    if (history.size() != list.size()) return false;
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (!(history[i] == list[i])) return false;
    }
    return true;
  }

 private:
  std::vector<T> ring_;     // grows to Capacity, then entries are overwritten in place
  std::size_t oldest_ = 0;  // position of the oldest entry once the ring is full
  std::uint64_t total_ = 0;
};

}  // namespace sim
