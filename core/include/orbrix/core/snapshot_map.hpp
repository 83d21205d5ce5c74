#pragma once

// A map from key to "record or none" shared between one writing thread (the
// gateway's worker) and any number of reading threads (the engine's).
//
// How it is safe: one mutex guards an unordered_map whose values are
// std::shared_ptr<const Value>. A record, once stored, is never changed; a
// write publishes a new record by swapping the pointer under the lock, and a
// read copies the pointer under the lock. A reader therefore holds a whole,
// immutable snapshot that later writes cannot touch, and the lock is held
// only for one hash lookup and one pointer copy (records are built and freed
// outside it).
//
// Every method may be called from any thread; each blocks only for that
// short critical section.

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "orbrix/common/mutex.hpp"
#include "orbrix/common/thread_annotations.hpp"

namespace orbrix {

template <class Key, class Value, class Hash = std::hash<Key>, class Equal = std::equal_to<Key>>
class SnapshotMap {
 public:
  using Snapshot = std::shared_ptr<const Value>;  // null means "none"

  SnapshotMap() = default;
  SnapshotMap(const SnapshotMap&) = delete;
  SnapshotMap& operator=(const SnapshotMap&) = delete;

  // Adds `key` with no record, unless the key is already there (then its
  // record is kept). Returns whether the key was added.
  bool add_key(const Key& key) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return entries_.try_emplace(key).second;
  }

  // Publishes `record` as the current record of `key`, adding the key when
  // it is missing. Readers holding the previous record keep it unchanged.
  void store(const Key& key, Value record) EXCLUDES(mutex_) {
    store(key, std::make_shared<const Value>(std::move(record)));
  }
  void store(const Key& key, Snapshot record) EXCLUDES(mutex_) {
    {
      MutexLock lock(mutex_);
      entries_[key].swap(record);
    }
    // `record` now holds the previous snapshot; it is released here,
    // outside the lock.
  }

  // The current record of `key`; null when the key holds none. Throws
  // std::out_of_range when the key is missing.
  Snapshot get(const Key& key) const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end()) {
      throw std::out_of_range("key is not in the map");
    }
    return it->second;
  }

  // The current record of `key`; null when the key is missing or holds none.
  Snapshot find(const Key& key) const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second;
  }

  bool contains(const Key& key) const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return entries_.find(key) != entries_.end();
  }

  // Removes `key` and its record; returns whether it was there.
  bool erase(const Key& key) EXCLUDES(mutex_) {
    Snapshot removed;
    MutexLock lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end()) {
      return false;
    }
    removed = std::move(it->second);
    entries_.erase(it);
    return true;
  }

  std::size_t size() const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return entries_.size();
  }

  // Every key with its current record, in no particular order: a consistent
  // view of the whole map at one moment. Copies the keys.
  std::vector<std::pair<Key, Snapshot>> entries() const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return {entries_.begin(), entries_.end()};
  }

 private:
  mutable Mutex mutex_;
  std::unordered_map<Key, Snapshot, Hash, Equal> entries_ GUARDED_BY(mutex_);
};

}  // namespace orbrix
