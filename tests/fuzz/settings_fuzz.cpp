// Any byte string read as a settings file must load, keep indexes where they
// were put (never used here as indexes) and serialise back by the layout.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvane;
    SwitcherTables tables;
    BandTable bands;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ParseSettings(bytes, tables, bands);
    const std::string saved = SerializeSettings(tables, bands);
    // A file with all fixed blocks and twenty terminated names saves back as its prefix.
    std::size_t zeros = 0, end = kSettingsFixedBytes;
    for (; end < size && zeros < 20; ++end)
        if (data[end] == 0) ++zeros;
    if (size >= kSettingsFixedBytes && zeros == 20 && saved != bytes.substr(0, end)) std::abort();
    SwitcherTables again;
    BandTable bandsAgain;
    ParseSettings(saved, again, bandsAgain);
    if (SerializeSettings(again, bandsAgain) != saved) std::abort();
    return 0;
}
