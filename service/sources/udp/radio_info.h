#pragma once
// The RadioInfo datagram that loggers broadcast on every frequency or mode
// change: read into a reading, or refused with the reason. No I/O.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane::svc {

// Larger datagrams are refused before parsing.
constexpr std::size_t kRadioInfoMaxBytes = 8 * 1024;
constexpr int kMaxRadioNr = 255;

struct RadioInfo {
    int radio = 1;                     // RadioNr; a packet without one speaks for radio 1
    std::uint64_t rxHertz = 0;         // Freq
    std::uint64_t txHertz = 0;         // TXFreq; 0 when absent or 0
    std::optional<bool> transmitting;  // IsTransmitting; nothing when the packet does not say
    // The antenna must suit what is transmitted, so a transmit frequency decides the band.
    std::uint64_t BandHertz() const { return txHertz > 0 ? txHertz : rxHertz; }
};

struct RadioInfoRead {
    std::optional<RadioInfo> info;  // nothing when refused
    std::string refusal;            // why, when refused
};

// Freq and TXFreq are in tens of hertz. Each of RadioNr, Freq, TXFreq and
// IsTransmitting may appear once, directly under <RadioInfo>; other elements
// are ignored. A document with a DOCTYPE, any byte 0 (UTF-16 and UTF-32 text)
// or a UTF-16 byte order mark is refused.
RadioInfoRead ReadRadioInfo(std::string_view datagram);

}  // namespace kelvane::svc
