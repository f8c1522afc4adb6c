// vesquin-hrtf-table SOFA RATE OUT: the head-related filters of a SOFA file at the mixer's
// rate, one pair per measured direction with the interaural delays folded in, cut to the
// taps that carry all but -40 dB of any filter's energy, as the table the browser's and
// Windows' mixers read.

#include <mysofa.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/hrtf_filters.h"
#include "platform/prepared_hrtf/sofa_table_format.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vesquin-hrtf-table SOFA RATE OUT\n");
    return 2;
  }
  const float rate = std::strtof(argv[2], nullptr);
  int taps = 0;
  int err = 0;
  MYSOFA_EASY* easy = mysofa_open(argv[1], rate, &taps, &err);
  if (easy == nullptr || err != MYSOFA_OK || taps <= 0) {
    std::fprintf(stderr, "vesquin-hrtf-table: cannot read %s (error %d)\n", argv[1], err);
    if (easy != nullptr) mysofa_close(easy);
    return 1;
  }
  const float dataRate = easy->hrtf->DataSamplingRate.values[0];
  const unsigned count = easy->hrtf->M;
  const float* positions = easy->hrtf->SourcePosition.values;  // cartesian after mysofa_open
  std::vector<std::vector<float>> filters;
  std::vector<float> directions;
  std::size_t needed = 1;
  for (unsigned m = 0; m < count; ++m) {
    float x = positions[3 * m], y = positions[3 * m + 1], z = positions[3 * m + 2];
    const float length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0F)) continue;
    std::vector<float> left(static_cast<std::size_t>(taps)), right(static_cast<std::size_t>(taps));
    float delayLeft = 0.0F, delayRight = 0.0F;
    mysofa_getfilter_float(easy, x, y, z, left.data(), right.data(), &delayLeft, &delayRight);
    vesquin::FoldDelay(left, delayLeft, dataRate);
    vesquin::FoldDelay(right, delayRight, dataRate);
    needed = std::max({needed, vesquin::EffectiveLength(left), vesquin::EffectiveLength(right)});
    directions.insert(directions.end(), {x / length, y / length, z / length});
    filters.push_back(std::move(left));
    filters.push_back(std::move(right));
  }
  mysofa_close(easy);
  const std::size_t kept = std::min<std::size_t>((needed + 7) / 8 * 8, static_cast<std::size_t>(taps));
  const std::size_t keptCount = directions.size() / 3;
  std::string out =
      vesquin::HrtfTableHeader(static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(kept),
                               static_cast<std::uint32_t>(keptCount));
  for (std::size_t d = 0; d < keptCount; ++d) {
    vesquin::AppendHrtfDirection(out, &directions[3 * d], std::span<const float>(filters[2 * d].data(), kept),
                                 std::span<const float>(filters[2 * d + 1].data(), kept));
  }
  std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "vesquin-hrtf-table: cannot write %s\n", argv[3]);
    return 1;
  }
  std::printf("%zu directions, %zu taps\n", keptCount, kept);
  return 0;
}
