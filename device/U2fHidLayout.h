#pragma once
// The U2FHID framing (FIDO U2F HID protocol) as both sides of it see it: the HID transport and
// the virtual key. Packets are 64 bytes; offsets count from a packet's first byte. On the wire
// (and in the transport's buffers) a report carries the report-ID byte 00 in front of the packet.
#include <array>
#include <cstddef>
#include <cstdint>

namespace u2fhid {

inline constexpr std::size_t kReportIdLength = 1;
inline constexpr std::size_t kPacketSize = 64;

inline constexpr std::size_t kChannelOffset = 0;
inline constexpr std::size_t kChannelLength = 4;
// Initialisation packet: the command (high bit set); continuation packet: the sequence number.
inline constexpr std::size_t kCommandOffset = 4;
inline constexpr std::size_t kLengthHighOffset = 5;
inline constexpr std::size_t kLengthLowOffset = 6;
inline constexpr std::size_t kInitPayloadOffset = 7;
inline constexpr std::size_t kContinuationPayloadOffset = 5;
inline constexpr std::size_t kInitPayload = kPacketSize - kInitPayloadOffset;                  // 57
inline constexpr std::size_t kContinuationPayload = kPacketSize - kContinuationPayloadOffset;  // 59

inline constexpr std::uint8_t kInitPacketBit = 0x80;
inline constexpr std::uint8_t kMsg = 0x83;
inline constexpr std::uint8_t kInit = 0x86;
// Sent while the device is still working on a request; carries no part of the answer.
inline constexpr std::uint8_t kKeepAlive = 0xBB;
// Ends the transaction on its channel; the first payload byte is the error code.
inline constexpr std::uint8_t kError = 0xBF;

inline constexpr std::uint8_t kErrInvalidCommand = 0x01;
inline constexpr std::uint8_t kErrInvalidLength = 0x03;
inline constexpr std::uint8_t kErrInvalidSequence = 0x04;
inline constexpr std::uint8_t kErrInvalidChannel = 0x0B;

inline constexpr std::array<std::uint8_t, kChannelLength> kBroadcastChannel{0xFF, 0xFF, 0xFF, 0xFF};

// INIT: the request's payload is the nonce; the answer's payload is the nonce echoed, the new
// channel, the protocol version, and the device's major, minor and build versions.
inline constexpr std::size_t kInitNonceLength = 8;
inline constexpr std::size_t kInitAnswerChannelOffset = kInitNonceLength;  // within the payload
inline constexpr std::size_t kInitAnswerLength = 17;

}  // namespace u2fhid
