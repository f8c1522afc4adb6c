#include <mysofa.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/prepared_hrtf/sofa_table_format.h"

struct MYSOFA_TABLE {
  vesquin::HrtfTable data;
  MYSOFA_HRTF hrtf{};
  MYSOFA_LOOKUP lookup{};
  float rate = 0.0F;
};

MYSOFA_EASY* mysofa_open(const char* path, float samplerate, int* filterlength, int* err) {
  *err = MYSOFA_READ_ERROR;
  // The path is UTF-8 on every system (a Windows game folder may be "Spiele für Åsa").
  const std::string_view name(path);
  std::ifstream file(std::filesystem::path(std::u8string(name.begin(), name.end())), std::ios::binary);
  if (!file) return nullptr;
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  auto table = std::make_unique<MYSOFA_TABLE>();
  if (!vesquin::ParseHrtfTable(bytes, table->data) || table->data.rate != samplerate) return nullptr;
  table->rate = samplerate;
  table->hrtf.DataSamplingRate.values = &table->rate;
  table->lookup.radius_min = table->lookup.radius_max = 1.0F;
  auto* easy = new MYSOFA_EASY{&table->hrtf, &table->lookup, table.release()};
  *filterlength = static_cast<int>(easy->table->data.taps);
  *err = MYSOFA_OK;
  return easy;
}

void mysofa_getfilter_float(MYSOFA_EASY* easy, float x, float y, float z, float* left, float* right,
                            float* leftDelay, float* rightDelay) {
  const vesquin::HrtfTable& t = easy->table->data;
  std::size_t best = 0;
  float bestDot = -2.0F;
  const float length = std::sqrt(x * x + y * y + z * z);
  for (std::size_t i = 0; i < t.directions.size() / 3; ++i) {
    const float dot = (x * t.directions[3 * i] + y * t.directions[3 * i + 1] + z * t.directions[3 * i + 2]) /
                      (length > 0.0F ? length : 1.0F);
    if (dot > bestDot) {
      bestDot = dot;
      best = i;
    }
  }
  const float* filters = t.filters.data() + best * 2 * t.taps;
  std::memcpy(left, filters, t.taps * sizeof(float));
  std::memcpy(right, filters + t.taps, t.taps * sizeof(float));
  *leftDelay = 0.0F;
  *rightDelay = 0.0F;
}

void mysofa_close(MYSOFA_EASY* easy) {
  if (easy == nullptr) return;
  delete easy->table;
  delete easy;
}
