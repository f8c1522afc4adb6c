#include "store.h"

#include <future>

namespace vesquin::scored {

Status Store::Submit(const Submission& submission, std::string_view client, std::int64_t now_ms) {
  std::promise<Status> outcome;
  auto result = outcome.get_future();
  SubmitAsync(submission, std::string(client), now_ms,
              [&outcome](Status st) { outcome.set_value(std::move(st)); });
  return result.get();
}

}  // namespace vesquin::scored
