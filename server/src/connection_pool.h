#pragma once
// Idle read connections of a store, lent one request at a time and taken back when the lease
// ends; a new one is opened when none is idle.

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "result.h"

namespace vesquin::scored {

template <class Connection>
class ConnectionPool {
 public:
  using Opener = std::function<Result<std::unique_ptr<Connection>>()>;
  // Makes a returned connection fit for the next request; false drops it instead.
  using Recycler = std::function<bool(Connection&)>;

  class Lease {
   public:
    Lease(ConnectionPool* pool, std::unique_ptr<Connection> c) : pool_(pool), c_(std::move(c)) {}
    Lease(Lease&&) = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease() {
      if (c_) pool_->Release(std::move(c_));
    }
    Connection& operator*() { return *c_; }
    Connection* operator->() { return c_.get(); }

   private:
    ConnectionPool* pool_;
    std::unique_ptr<Connection> c_;
  };

  ConnectionPool(Opener open, Recycler recycle) : open_(std::move(open)), recycle_(std::move(recycle)) {}

  Result<Lease> Acquire() {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        auto c = std::move(idle_.back());
        idle_.pop_back();
        return Result<Lease>::Ok(Lease(this, std::move(c)));
      }
    }
    auto c = open_();
    if (!c) return Result<Lease>::Fail(c.Error());
    return Result<Lease>::Ok(Lease(this, std::move(*c)));
  }

  void Release(std::unique_ptr<Connection> connection) {
    if (!recycle_(*connection)) return;
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(connection));
  }

  // Drops every idle connection (after the database dropped them all, say).
  void Clear() {
    std::lock_guard lock(mutex_);
    idle_.clear();
  }

 private:
  Opener open_;
  Recycler recycle_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace vesquin::scored
