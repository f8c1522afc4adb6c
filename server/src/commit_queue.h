#pragma once
// The group commit both stores share. Submissions queue; one writer thread takes whatever has
// queued (up to a limit of entries), hands it to the store's commit function as one
// transaction, and answers each job only after that function returns, so that one durable
// commit serves the whole group and nothing is answered "stored" before it is.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "store.h"

namespace vesquin::scored {

class CommitQueue {
 public:
  struct Entry {
    Submission submission;
    std::string client;
    std::int64_t receivedAtMs = 0;
  };
  struct Job {
    std::vector<Entry> entries;
    Store::Done done;
    std::chrono::steady_clock::time_point queued;
  };
  // Writes every entry of the jobs in one transaction; its status answers all of them. Called
  // on the writer thread only, one batch at a time.
  using CommitFn = std::function<Status(const std::vector<Job>& jobs)>;

  // Starts the writer thread. A job is refused unwritten when it waited longer than `bound`
  // before its batch was taken to commit.
  CommitQueue(std::size_t maxEntriesPerCommit, std::chrono::milliseconds bound, CommitFn commit);
  // Commits everything queued before it, then ends the writer.
  ~CommitQueue();
  CommitQueue(const CommitQueue&) = delete;
  CommitQueue& operator=(const CommitQueue&) = delete;

  void SubmitAsync(Submission submission, std::string client, std::int64_t nowMs, Store::Done done);
  // Many submissions in one job, so one transaction; waits for the commit.
  Status SubmitBatch(std::span<const Submission> submissions, std::string_view client, std::int64_t nowMs);

 private:
  void Enqueue(Job job);
  void WriterLoop();

  const std::size_t maxEntries_;
  const std::chrono::milliseconds bound_;
  const CommitFn commit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> queue_;
  bool stopping_ = false;
  std::thread writer_;  // last: started once everything above exists
};

}  // namespace vesquin::scored
