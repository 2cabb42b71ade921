#pragma once
// The port-write route of the Windows program, kept free of Windows: which
// byte goes to which port, and whether it goes through the port-driver library
// or straight out.

#include <cstdint>

#include "core/port_output.h"

namespace kelvane {

// The byte output of the port-driver library; does nothing while no library
// (or no such export) is bound.
class DriverByteOutput {
public:
    virtual void DriverOutPB(std::uint16_t port, std::uint8_t value) const = 0;

protected:
    ~DriverByteOutput() = default;
};

// The byte-output instruction of the 9x family; tests and non-x86 builds replace it.
using PortOutByteFn = void (*)(std::uint16_t port, std::uint8_t value);

class PortWriter final : public PortOutput {
public:
    PortWriter(const DriverByteOutput& driver, PortOutByteFn outByte) : m_driver(driver), m_outByte(outByte) {}

    bool m_bNT = false;  // set once at start from the platform

    // Low byte of the antenna value to the low 16 bits of the port address. On
    // the NT family the write goes to the library, else through `outByte`.
    void WritePortByte(std::int32_t portAddr, std::uint32_t antValue) override;

private:
    const DriverByteOutput& m_driver;
    PortOutByteFn m_outByte;
};

// The port side as the program's start-up and shutdown use it. The program
// passes the system's process-wide library and functions; tests pass recorders.
struct PortPlatform {
    const DriverByteOutput* driver;
    PortOutByteFn outByte;     // the 9x route
    bool (*detectPlatform)();  // true on the NT family
    bool (*bindDriver)();      // true when the library is usable
    void (*unbindDriver)();
    void (*showDriverFailure)();
};

}  // namespace kelvane
