// The RadioInfo reader takes any datagram from the LAN: it must refuse or read,
// never crash, and a reading it gives must keep its own promises.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/sources/udp/radio_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const kelvane::svc::RadioInfoRead read = kelvane::svc::ReadRadioInfo(datagram);
    if (read.info.has_value() == !read.refusal.empty()) std::abort();
    if (read.info && (size > kelvane::svc::kRadioInfoMaxBytes || read.info->radio < 1 ||
                      read.info->radio > kelvane::svc::kMaxRadioNr || read.info->rxHertz % 10 != 0))
        std::abort();
    return 0;
}
