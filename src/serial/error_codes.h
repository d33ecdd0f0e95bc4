// The error numbers the program's operations leave in ErrorCode (0 = no error).
#pragma once

#include <cstdint>

namespace tvx::serial {

using ErrorNumber = std::uint8_t;

inline constexpr ErrorNumber kNoError = 0;
inline constexpr ErrorNumber kErrDeviceControl = 5;  ///< line setting / queue size refused
inline constexpr ErrorNumber kErrOutOfMemory = 7;
inline constexpr ErrorNumber kErrInternal = 51;  ///< OS failure without a number, bad handle
inline constexpr ErrorNumber kErrPortNotOpen = 52;
inline constexpr ErrorNumber kErrNoSuchPort = 53;
inline constexpr ErrorNumber kErrPortAlreadyOpen = 55;
inline constexpr ErrorNumber kErrLineError = 57;  ///< overrun, framing, overflow, device I/O
/// The line is gone: the other side hung up or the device vanished (an adapter pulled out).
/// Nothing more will pass on this port until it is opened again.
inline constexpr ErrorNumber kErrLineDead = 59;
inline constexpr ErrorNumber kErrBadPortName = 64;
inline constexpr ErrorNumber kErrSendFailed = 69;
inline constexpr ErrorNumber kErrAccessDenied = 70;  ///< port in use by another program

}  // namespace tvx::serial
