// The shared sine table: 8192 entries over a full circle, read by angle in
// degrees without interpolation. One step is 360/8192 = 0.0439453125
// degrees; a sine or cosine costs a multiply, a truncation and a load.
//
// Threads: init_sine_table on the main thread at start-up (kel_init); the
// table is read-only afterwards and any thread may read it.
#pragma once

#include <cmath>
#include <cstdint>

constexpr int SINE_TABLE_SIZE = 8192;

// Entry i holds sin(2 pi i / 8192) in single precision: entry 0 is 0, 2048
// is 1, 6144 is -1. All zero until init_sine_table has run.
extern float _sine_table[SINE_TABLE_SIZE];

// Fills the table: entry i = sin(i * 0.0439453125 * pi / 180), computed in
// double precision and rounded to single. Writes the table whole; call it
// before any reader runs (kel_init does).
void init_sine_table();

// Index of the entry for an angle in degrees: degrees times 8192/360,
// truncated toward zero, low 13 bits (negative angles wrap to the top:
// -1 degree gives 8170). 90, 180, 270 and 360 land exactly on 2048, 4096,
// 6144 and 0. Angles grow without bound (a heading turned every frame, a
// clock times a speed), so the truncated steps are reduced modulo the table
// before they become an integer: exact for every angle, and the same index
// as the plain conversion wherever that is defined. An angle that is not a
// number, or infinite, gives entry 0.
inline int sine_table_index(double degrees) {
  const double steps = std::trunc(degrees * 22.755555555555556);
  if (!std::isfinite(steps)) return 0;
  return static_cast<int>(std::fmod(steps, 8192.0)) & 0x1fff;
}

// The sine of an angle in degrees: the entry at or below the angle (toward
// zero), no interpolation.
inline float sine_deg(double degrees) { return _sine_table[sine_table_index(degrees)]; }
// The cosine of an angle in degrees: sine_deg(degrees + 90).
inline float cosine_deg(double degrees) { return sine_deg(degrees + 90.0); }
