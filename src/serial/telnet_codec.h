// Telnet with its serial-port option (COM-PORT-OPTION, option 44), as a network serial port
// speaks it to a serial server: the requests the port sends and a reader of what the server
// sends back. No I/O: bytes in, bytes and events out.
//
// On the wire every data byte 0xFF (IAC) is doubled both ways; everything else after an IAC is
// a command. The port asks for BINARY both ways (no CR/NUL translation, every byte value
// passes), SUPPRESS-GO-AHEAD both ways and offers COM-PORT-OPTION; anything else the server
// offers or asks for is refused, each once. Serial-port requests travel as
//   IAC SB 44 <command> <value...> IAC SE
// and the server answers each with the same command plus 100 and the value in force.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tvx::serial::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;

/// The serial-port option's requests (the server's answers are these plus 100).
enum class ComCommand : std::uint8_t {
  kSetBaudRate = 1,  ///< value: 4 bytes, bit/s, most significant first
  kSetDataSize = 2,  ///< value: bits (5..8)
  kSetParity = 3,    ///< value: 1 none, 2 odd, 3 even
  kSetStopSize = 4,  ///< value: 1 one, 2 two
  kSetControl = 5,   ///< value: kControl*
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,  ///< value: 1 the server's receive buffer, 2 transmit, 3 both
};
inline constexpr int kComCommandCount = 13;  ///< codes 0..12, for tables indexed by command

inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kControlNoFlow = 1;  ///< no flow control (outbound, and inbound)
inline constexpr std::uint8_t kControlDtrOn = 8;
inline constexpr std::uint8_t kControlDtrOff = 9;
inline constexpr std::uint8_t kPurgeReceive = 1;

/// Line-state bits the server reports that are line errors: overrun and framing error. Parity
/// errors and breaks are not counted as failures of the line.
inline constexpr std::uint8_t kLineStateErrors = 0x02 | 0x08;

/// Appends `data` to `out` with every 0xFF doubled.
void AppendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

/// What the port says right after connecting: WILL and DO BINARY, WILL and DO
/// SUPPRESS-GO-AHEAD, WILL COM-PORT-OPTION.
std::vector<std::uint8_t> OpeningNegotiation();

/// One serial-port request with its value, escaped.
std::vector<std::uint8_t> ComRequest(ComCommand command, std::span<const std::uint8_t> value);
std::vector<std::uint8_t> SetBaudRate(std::uint32_t bits_per_second);
std::vector<std::uint8_t> ComRequestByte(ComCommand command, std::uint8_t value);

/// The server's answer to one serial-port request: the request's command and the value now in
/// force (1 byte, or 4 for the rate; `size` says how many came, at most 4 kept).
struct ComReply {
  ComCommand command = ComCommand::kSetBaudRate;
  std::array<std::uint8_t, 4> value{};
  std::size_t size = 0;

  /// The value as a number, most significant byte first (the rate's 4 bytes, or the one byte).
  std::uint32_t Number() const;
};

/// What one run of the reader found besides data.
struct ReadEvents {
  std::vector<ComReply> replies;
  /// Line errors reported (NOTIFY-LINESTATE with overrun or framing bits): the OR of their bits.
  std::uint8_t line_errors = 0;
  /// Negotiation the port must send back (answers to the server's WILL/WONT/DO/DONT).
  std::vector<std::uint8_t> answers;
};

/// Where each option the port cares about stands.
struct OptionState {
  bool requested = false;  ///< we asked and have no answer yet
  bool enabled = false;
  bool refused = false;  ///< the other side said no to our request
};

/// The reader of the server's byte stream. Keeps its place between calls, so a command split
/// across receives (even an IAC at the very end of one) reads the same as in one piece. Not
/// thread-safe: one thread feeds it.
class Reader {
 public:
  /// Starts with our side of OpeningNegotiation() asked for.
  Reader();

  /// Reads `bytes`: data goes to the end of `data` (IAC IAC as one 0xFF), the rest into
  /// `events`. Sub-negotiations of other options, unknown commands and over-long ones (more
  /// than 64 bytes) are dropped whole.
  void Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
            ReadEvents& events);

  /// Whether the server has agreed to take serial-port requests (its DO COM-PORT-OPTION), and
  /// whether it refused them (DONT).
  const OptionState& ComPort() const { return local_[kComSlot]; }

 private:
  enum class State { kData, kIac, kVerb, kSb, kSbIac };
  static constexpr int kBinarySlot = 0;
  static constexpr int kSgaSlot = 1;
  static constexpr int kComSlot = 2;
  static constexpr std::size_t kMaxSub = 64;

  void Negotiate(std::uint8_t verb, std::uint8_t option, ReadEvents& events);
  void EndSub(ReadEvents& events);

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;
  bool sub_overflow_ = false;
  std::array<OptionState, 3> local_;   // what we do: BINARY, SGA, COM-PORT
  std::array<OptionState, 3> remote_;  // what the server does: BINARY, SGA (COM-PORT unused)
  // Options outside ours already refused, so a server that repeats itself is answered once.
  std::array<bool, 256> refused_do_{};
  std::array<bool, 256> refused_will_{};
};

}  // namespace tvx::serial::telnet
