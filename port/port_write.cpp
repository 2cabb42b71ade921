#include "port/port_write.h"

namespace kelvane {

void PortWriter::WritePortByte(std::int32_t portAddr, std::uint32_t antValue) {
    const auto value = static_cast<std::uint8_t>(antValue & 0xFFu);
    const auto port = static_cast<std::uint16_t>(static_cast<std::uint32_t>(portAddr) & 0xFFFFu);
    if (m_bNT)
        m_driver.DriverOutPB(port, value);
    else if (m_outByte)
        m_outByte(port, value);
}

}  // namespace kelvane
