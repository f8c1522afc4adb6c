#include "commit_queue.h"

#include <future>

namespace vesquin::scored {

CommitQueue::CommitQueue(std::size_t maxEntriesPerCommit, std::chrono::milliseconds bound, CommitFn commit)
    : maxEntries_(maxEntriesPerCommit), bound_(bound), commit_(std::move(commit)) {
  writer_ = std::thread([this] { WriterLoop(); });
}

CommitQueue::~CommitQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  // The writer commits what is still queued before it ends, so nothing accepted is dropped.
  if (writer_.joinable()) writer_.join();
}

void CommitQueue::SubmitAsync(Submission submission, std::string client, std::int64_t nowMs,
                              Store::Done done) {
  Job job;
  job.entries.push_back({std::move(submission), std::move(client), nowMs});
  job.done = std::move(done);
  Enqueue(std::move(job));
}

Status CommitQueue::SubmitBatch(std::span<const Submission> submissions, std::string_view client,
                                std::int64_t nowMs) {
  Job job;
  for (const Submission& s : submissions) job.entries.push_back({s, std::string(client), nowMs});
  std::promise<Status> outcome;
  auto result = outcome.get_future();
  job.done = [&outcome](Status st) { outcome.set_value(std::move(st)); };
  Enqueue(std::move(job));
  return result.get();
}

void CommitQueue::Enqueue(Job job) {
  job.queued = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(job));
  }
  ready_.notify_one();
}

void CommitQueue::WriterLoop() {
  for (;;) {
    std::vector<Job> jobs;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing left to commit
      // A job is never split: one larger than the limit goes alone.
      std::size_t entries = 0;
      while (!queue_.empty() && (jobs.empty() || entries + queue_.front().entries.size() <= maxEntries_)) {
        entries += queue_.front().entries.size();
        jobs.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
    }
    // Jobs that queued behind a stuck commit (an operator holding the write lock) for longer than
    // the bound are refused before they are written, so "not stored" is the truth.
    auto now = std::chrono::steady_clock::now();
    std::vector<Job> fresh;
    for (Job& job : jobs) {
      if (now - job.queued > bound_)
        job.done(Status::Fail("not committed within " + std::to_string(bound_.count()) + " ms"));
      else
        fresh.push_back(std::move(job));
    }
    if (fresh.empty()) continue;
    Status st = commit_(fresh);
    for (Job& job : fresh) job.done(st);
  }
}

}  // namespace vesquin::scored
