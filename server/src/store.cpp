#include "store.h"

#include <future>

namespace vesquin::scored {

Status Store::Submit(const Submission& submission, std::string_view client, std::int64_t nowMs) {
  std::promise<Status> outcome;
  auto result = outcome.get_future();
  SubmitAsync(submission, std::string(client), nowMs,
              [&outcome](Status st) { outcome.set_value(std::move(st)); });
  return result.get();
}

}  // namespace vesquin::scored
