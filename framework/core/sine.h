// The shared sine table: 8192 entries over a full circle, read by angle in
// degrees without interpolation.
//
// Threads: init_sine_table on the main thread at start-up (kel_init); the
// table is read-only afterwards and any thread may read it.
#pragma once

#include <cstdint>

constexpr int SINE_TABLE_SIZE = 8192;

extern float _sine_table[SINE_TABLE_SIZE];

void init_sine_table();

// Index of the entry for an angle in degrees: degrees times 8192/360,
// truncated toward zero, low 13 bits (negative angles wrap to the top).
inline int sine_table_index(double degrees) {
  return static_cast<int>(static_cast<int32_t>(degrees * 22.755555555555556)) & 0x1fff;
}

inline float sine_deg(double degrees) { return _sine_table[sine_table_index(degrees)]; }
inline float cosine_deg(double degrees) { return sine_deg(degrees + 90.0); }
