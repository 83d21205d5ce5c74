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
//
// A writer that stores into the same keys event after event takes a Slot
// per key once: a get or store through it reaches the key's entry without
// hashing or comparing the key.

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

 private:
  struct Entry {
    explicit Entry(const Key& k) : key(k) {}
    const Key key;
    Snapshot record;
    bool erased = false;  // its key was erased: the entry is out of the map
  };

 public:
  // One key's entry, for its writer. While the key stays, get and store
  // through the slot act as get and store by the key. Once the key is
  // erased, get throws std::out_of_range (a missing key) and store adds the
  // key again, the slot then reaching the new entry. Used by one thread at
  // a time (the writer's); the map's locking covers the rest.
  class Slot {
   public:
    Slot() = default;
    explicit operator bool() const noexcept { return entry_ != nullptr; }

   private:
    friend SnapshotMap;
    explicit Slot(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    std::shared_ptr<Entry> entry_;
  };

  SnapshotMap() = default;
  SnapshotMap(const SnapshotMap&) = delete;
  SnapshotMap& operator=(const SnapshotMap&) = delete;

  // Adds `key` with no record, unless the key is already there (then its
  // record is kept). Returns whether the key was added.
  bool add_key(const Key& key) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return entry_of(key).second;
  }

  // The slot of `key`. Throws std::out_of_range when the key is missing.
  Slot slot(const Key& key) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end()) {
      throw std::out_of_range("key is not in the map");
    }
    return Slot(it->second);
  }

  // Publishes `record` as the current record of `key`, adding the key when
  // it is missing. Readers holding the previous record keep it unchanged.
  void store(const Key& key, Value record) EXCLUDES(mutex_) {
    store(key, std::make_shared<const Value>(std::move(record)));
  }
  void store(const Key& key, Snapshot record) EXCLUDES(mutex_) {
    {
      MutexLock lock(mutex_);
      entry_of(key).first->record.swap(record);
    }
    // `record` now holds the previous snapshot; it is released here,
    // outside the lock.
  }
  void store(Slot& slot, Snapshot record) EXCLUDES(mutex_) {
    {
      MutexLock lock(mutex_);
      if (slot.entry_->erased) {
        slot.entry_ = entry_of(slot.entry_->key).first;
      }
      slot.entry_->record.swap(record);
    }
  }

  // The current record of `key`; null when the key holds none. Throws
  // std::out_of_range when the key is missing.
  Snapshot get(const Key& key) const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end()) {
      throw std::out_of_range("key is not in the map");
    }
    return it->second->record;
  }
  Snapshot get(const Slot& slot) const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    if (slot.entry_->erased) {
      throw std::out_of_range("key is not in the map");
    }
    return slot.entry_->record;
  }

  // The current record of `key`; null when the key is missing or holds none.
  Snapshot find(const Key& key) const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second->record;
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
    it->second->erased = true;
    removed = std::move(it->second->record);
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
    std::vector<std::pair<Key, Snapshot>> all;
    all.reserve(entries_.size());
    for (const auto& [key, entry] : entries_) {
      all.emplace_back(key, entry->record);
    }
    return all;
  }

 private:
  // The entry of `key`, made when missing (then `second` is true).
  std::pair<std::shared_ptr<Entry>, bool> entry_of(const Key& key) REQUIRES(mutex_) {
    auto [it, added] = entries_.try_emplace(key);
    if (added) {
      it->second = std::make_shared<Entry>(key);
    }
    return {it->second, added};
  }

  mutable Mutex mutex_;
  // Each entry is shared with the slots taken of it.
  std::unordered_map<Key, std::shared_ptr<Entry>, Hash, Equal> entries_ GUARDED_BY(mutex_);
};

}  // namespace orbrix
