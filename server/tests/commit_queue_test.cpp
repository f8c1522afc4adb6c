#include "commit_queue.h"

#include <gtest/gtest.h>

#include "support.h"

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
using testing::MakePlayer;

// Stands in for a store's transaction: records each batch as its jobs' sizes, answers with
// `result`, and can be held shut as a stuck write lock would hold it.
struct FakeStore {
  Status Commit(const std::vector<CommitQueue::Job>& jobs) {
    std::unique_lock lock(m);
    ++entered;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
    auto& sizes = batches.emplace_back();
    for (const auto& job : jobs) sizes.push_back(job.entries.size());
    return result;
  }
  void SetOpen(bool o) {
    std::lock_guard lock(m);
    open = o;
    changed.notify_all();
  }
  bool WaitFor(const std::function<bool()>& ready) {
    std::unique_lock lock(m);
    return changed.wait_for(lock, 10s, ready);
  }
  Store::Done Answer() {
    return [this](Status st) {
      std::lock_guard lock(m);
      answers.push_back(st.ok ? "ok" : st.error);
      changed.notify_all();
    };
  }
  CommitQueue::CommitFn Fn() {
    return [this](const std::vector<CommitQueue::Job>& jobs) { return Commit(jobs); };
  }

  std::mutex m;
  std::condition_variable changed;
  bool open = true;
  int entered = 0;
  Status result = Status::Ok();
  std::vector<std::vector<std::size_t>> batches;
  std::vector<std::string> answers;
};

TEST(CommitQueue, JobsQueuedDuringACommitShareTheNextUpToTheLimitAndAreAnsweredAfterIt) {
  FakeStore store;
  store.result = Status::Fail("disk full");
  CommitQueue queue(2, 10s, store.Fn());
  store.SetOpen(false);
  queue.SubmitAsync({MakePlayer("a"), 1}, "192.0.2.1", 1, store.Answer());
  ASSERT_TRUE(store.WaitFor([&] { return store.entered == 1; }));
  for (const char* name : {"b", "c", "d", "e", "f"})
    queue.SubmitAsync({MakePlayer(name), 1}, "192.0.2.1", 1, store.Answer());
  {
    std::lock_guard lock(store.m);
    EXPECT_TRUE(store.answers.empty()) << "answered before its commit ended";
  }
  store.SetOpen(true);
  ASSERT_TRUE(store.WaitFor([&] { return store.answers.size() == 6; }));
  using Batches = std::vector<std::vector<std::size_t>>;
  EXPECT_EQ(store.batches, (Batches{{1}, {1, 1}, {1, 1}, {1}}));
  // Every job of a failed batch hears why.
  EXPECT_EQ(store.answers, std::vector<std::string>(6, "disk full"));

  // A job larger than the limit is written whole, in a batch of its own.
  store.result = Status::Ok();
  std::vector<Submission> five(5, Submission{MakePlayer("g"), 2});
  EXPECT_TRUE(queue.SubmitBatch(five, "192.0.2.1", 2));
  EXPECT_EQ(store.batches.back(), std::vector<std::size_t>{5});
}

TEST(CommitQueue, JobsThatWaitedPastTheBoundAreRefusedUnwritten) {
  FakeStore store;
  CommitQueue queue(100, 200ms, store.Fn());
  store.SetOpen(false);
  queue.SubmitAsync({MakePlayer("first"), 1}, "192.0.2.1", 1, store.Answer());
  ASSERT_TRUE(store.WaitFor([&] { return store.entered == 1; }));
  queue.SubmitAsync({MakePlayer("late"), 1}, "192.0.2.1", 1, store.Answer());
  queue.SubmitAsync({MakePlayer("later"), 1}, "192.0.2.1", 1, store.Answer());
  std::this_thread::sleep_for(300ms);
  store.SetOpen(true);
  ASSERT_TRUE(store.WaitFor([&] { return store.answers.size() == 3; }));
  EXPECT_EQ(store.answers,
            (std::vector<std::string>{"ok", "not committed within 200 ms", "not committed within 200 ms"}));
  EXPECT_EQ(store.batches.size(), 1u);
  // The queue goes on once the lock is free.
  EXPECT_TRUE(queue.SubmitBatch(std::vector<Submission>{{MakePlayer("next"), 1}}, "192.0.2.1", 2));
  EXPECT_EQ(store.batches.size(), 2u);
}

TEST(CommitQueue, DestroyingItCommitsEverythingQueuedBeforeAndAnswersIt) {
  FakeStore store;
  std::size_t committed = 0;
  {
    CommitQueue queue(8, 10s, [&](const std::vector<CommitQueue::Job>& jobs) {
      std::this_thread::sleep_for(1ms);  // lets a queue build up behind each commit
      for (const auto& job : jobs) committed += job.entries.size();
      return Status::Ok();
    });
    for (int i = 0; i < 100; ++i) queue.SubmitAsync({MakePlayer("p"), i}, "192.0.2.1", i, store.Answer());
  }
  EXPECT_EQ(committed, 100u);
  EXPECT_EQ(store.answers, std::vector<std::string>(100, "ok"));
}

}  // namespace
}  // namespace vesquin::scored
