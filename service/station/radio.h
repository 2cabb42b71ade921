#pragma once
// One radio as the service runs it: its source, output, poll loop and log.
// A station without [radio] sections is one radio, named "1", that logs and
// journals as a station always has.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/config/cli.h"
#include "service/base/log.h"
#include "service/station/output.h"
#include "service/station/poll_loop.h"
#include "service/sources/source.h"
#include "service/config/station_file.h"

namespace kelvane::svc {

struct Radio {
    RadioOptions options;
    std::unique_ptr<Log> log;
    std::unique_ptr<Source> source;
    std::unique_ptr<OutputChannel> output;
    std::unique_ptr<PollLoop> loop;
    std::optional<RadioOptions> moveTo;  // a reload's new output, taken at the radio's receive
};

// The config's radios, or the one radio the top-level options describe.
std::vector<RadioOptions> RadiosOf(const Options& options);

// Empty when every inhibit line is one no antenna a band lists sets; else why
// not, with the config line of the inhibit, as "FILE: line N: ...".
std::string InhibitClash(const Options& options, const Station& station);

}  // namespace kelvane::svc
