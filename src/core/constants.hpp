// Single-precision constants shared by every block.
#pragma once

namespace tarsk {

inline constexpr float kTwoPi = 6.2831855f;
inline constexpr float kPi = 3.1415927f;
inline constexpr float kHalfPi = 1.5707964f;
inline constexpr float kQuarterPi = 0.7853982f;

}  // namespace tarsk
