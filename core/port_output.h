#pragma once
// The one way the core reaches a port. Which route a byte takes (a driver
// library, an `out` instruction, a USB board) is the output's business.

#include <cstdint>

namespace kelvane {

class PortOutput {
public:
    // Only the low byte of `antValue` is meant for the port; masking it, and
    // the address, to what the hardware takes is the output's job.
    virtual void WritePortByte(std::int32_t portAddr, std::uint32_t antValue) = 0;

protected:
    ~PortOutput() = default;
};

}  // namespace kelvane
