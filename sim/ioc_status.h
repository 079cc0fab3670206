// IOC status values the emulated controllers answer with (reply offset 14).
#pragma once

#include <cstdint>

namespace fmxsim {

inline constexpr uint16_t kIocStatusSuccess = 0x0000;
inline constexpr uint16_t kIocStatusInvalidFunction = 0x0001;
inline constexpr uint16_t kIocStatusInvalidField = 0x0004;
inline constexpr uint16_t kIocStatusConfigInvalidAction = 0x0020;
inline constexpr uint16_t kIocStatusConfigInvalidPage = 0x0022;
inline constexpr uint16_t kIocStatusConfigInvalidData = 0x0023;

}  // namespace fmxsim
