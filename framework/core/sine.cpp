#include "framework/core/sine.h"

#include <cmath>

float _sine_table[SINE_TABLE_SIZE];

void init_sine_table() {
  constexpr double kStepDegrees = 0.0439453125;  // 360 / 8192, exactly
  constexpr double kRadiansPerDegree = 0.017453292519943295;
  for (int i = 0; i < SINE_TABLE_SIZE; ++i)
    _sine_table[i] = static_cast<float>(std::sin(i * kStepDegrees * kRadiansPerDegree));
}
