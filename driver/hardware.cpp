// The hardware backend: inpout32.dll from the program's directory does the
// privileged port access; it only moves bytes, so wider accesses are split.

#include <utility>

#include "driver/port_io.h"
#include "win32/module.h"

namespace korvport {
namespace {

using Out32Fn = void(__stdcall*)(short port, short data);
using Inp32Fn = short(__stdcall*)(short port);

constexpr std::uint16_t kTimerControl = 0x43;
constexpr std::uint16_t kTimer2 = 0x42;
constexpr std::uint16_t kSpeakerGate = 0x61;
constexpr std::uint32_t kTimerHz = 1193182;

class HardwareIo final : public PortIo {
public:
    HardwareIo(kelvane::Library module, Out32Fn out, Inp32Fn in) : m_module(std::move(module)), m_out(out), m_in(in) {}

    // Bytes go to consecutive ports, lowest first: the x86 order of a wide access.
    void Write(const char*, std::uint16_t port, std::uint32_t value, int bytes) override {
        for (int i = 0; i < bytes; ++i) OutByte(static_cast<std::uint16_t>(port + i), value >> (8 * i));
    }
    std::uint32_t Read(const char*, std::uint16_t port, int bytes) override {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint32_t{InByte(static_cast<std::uint16_t>(port + i))} << (8 * i);
        return value;
    }
    // The PC speaker: timer 2 as a square wave, gated on for the duration.
    void Beep(std::uint32_t hz, std::uint32_t ms) override {
        if (hz < 19 || hz > kTimerHz) return;  // outside what the 16-bit divisor can make
        const std::uint32_t divisor = kTimerHz / hz;
        OutByte(kTimerControl, 0xB6);
        OutByte(kTimer2, divisor);
        OutByte(kTimer2, divisor >> 8);
        const std::uint8_t gate = InByte(kSpeakerGate);
        OutByte(kSpeakerGate, gate | 0x03);
        Sleep(ms);
        OutByte(kSpeakerGate, gate & 0xFC);
    }
    void Note(const char*, const std::string&) override {}

private:
    void OutByte(std::uint16_t port, std::uint32_t value) {
        m_out(static_cast<short>(port), static_cast<short>(value & 0xFF));
    }
    std::uint8_t InByte(std::uint16_t port) { return static_cast<std::uint8_t>(m_in(static_cast<short>(port)) & 0xFF); }

    kelvane::Library m_module;
    Out32Fn m_out;
    Inp32Fn m_in;
};

}  // namespace

std::unique_ptr<PortIo> OpenHardware(const std::string& dir) {
    if (dir.empty()) return nullptr;
    std::string path = dir;
    if (path.back() != '\\' && path.back() != '/') path += '\\';
    path += "inpout32.dll";
    kelvane::Library module(kelvane::LoadLibraryQuietly(path));
    if (!module) return nullptr;
    const auto out = module.Proc<Out32Fn>("Out32");
    const auto in = module.Proc<Inp32Fn>("Inp32");
    if (!out || !in) return nullptr;
    return std::make_unique<HardwareIo>(std::move(module), out, in);
}

}  // namespace korvport
