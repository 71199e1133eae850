#pragma once
// The degree and radian conversions of the results, the log, the settings and the command line.
// They are written with the constants 1/π and 1/180 so that every value shown, saved and read
// back converts in the same order, bit for bit.

namespace zelv {

inline constexpr double kPi = 3.141592653589793;
// The constant of the degree conversion, 1/π.
inline constexpr double kInversePi = 0.3183098861837907;
// The constant of the radian conversion, 1/180.
inline constexpr double kInverse180 = 0.005555555555555556;

// Radians to degrees: (radians · 180) · (1/π).
inline double ToDegrees(double radians) { return radians * 180 * kInversePi; }

// Degrees to radians: (degrees · π) · (1/180).
inline double ToRadians(double degrees) { return degrees * kPi * kInverse180; }

}  // namespace zelv
