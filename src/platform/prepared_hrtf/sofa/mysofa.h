#pragma once
// The few libmysofa calls the filter set makes, answered from a table prepared at build time
// by vesquin-hrtf-table (filters at the mixer's rate, interaural delays folded in), so that
// the browser and Windows builds need neither libmysofa nor the SOFA file.

enum { MYSOFA_OK = 0, MYSOFA_READ_ERROR = 10000 };

struct MYSOFA_ARRAY {
  float* values;
};
struct MYSOFA_HRTF {
  MYSOFA_ARRAY DataSamplingRate;
};
struct MYSOFA_LOOKUP {
  float radius_min;
  float radius_max;
};
struct MYSOFA_TABLE;
struct MYSOFA_EASY {
  MYSOFA_HRTF* hrtf;
  MYSOFA_LOOKUP* lookup;
  MYSOFA_TABLE* table;
};

// Opens a table whose rate is `samplerate`; null, with *err set, when it cannot be read.
MYSOFA_EASY* mysofa_open(const char* path, float samplerate, int* filterlength, int* err);
// The filters of the table's direction nearest to (x, y, z) in SOFA axes; delays are 0.
void mysofa_getfilter_float(MYSOFA_EASY* easy, float x, float y, float z, float* left, float* right,
                            float* leftDelay, float* rightDelay);
void mysofa_close(MYSOFA_EASY* easy);
