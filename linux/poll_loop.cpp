#include "linux/poll_loop.h"

#include <cmath>

namespace kelvane::svc {

PollLoop::PollLoop(RigLink& link, OutputChannel& output, Log& log, Interlock mode, const Station& station)
    : link_(link), output_(output), log_(log), mode_(mode), rules_(std::make_unique<BandRules>(station)) {}

void PollLoop::Reload(const Station& station) { rules_ = std::make_unique<BandRules>(station); }

void PollLoop::BadReply(const char* command, const Reply& reply) {
    log_.Once(std::string("bad:") + command + ":" + reply.bad, Log::kWarning,
              std::string("rigctld answered '") + command + "' with a bad reply (" + reply.bad + "): \"" +
                  reply.excerpt + "\"; such polls change nothing");
}

PollLoop::Step PollLoop::AskFrequency(double& hertz) {
    Reply reply;
    if (!link_.Ask("f", reply)) return Step::kStop;
    if (reply.kind == Reply::kReport) {
        log_.Once("report:f:" + std::to_string(reply.report), Log::kWarning,
                  "rigctld answered 'f' with RPRT " + std::to_string(reply.report) + "; such polls change nothing");
        return Step::kStop;
    }
    if (reply.kind == Reply::kNumber && reply.number < 0) {
        reply.kind = Reply::kBad;
        reply.bad = "negative frequency";
        reply.excerpt = std::to_string(static_cast<long long>(reply.number));
    }
    if (reply.kind == Reply::kBad) {
        BadReply("f", reply);
        return Step::kStop;
    }
    hertz = reply.number;
    return Step::kGo;
}

PollLoop::Step PollLoop::AskTransmit() {
    if (link_.ConnectionNumber() != decidedFor_) {
        hasTx_.reset();
        transmitting_ = false;
    }
    if (hasTx_ == false) return Step::kGo;
    Reply reply;
    if (!link_.Ask("t", reply)) return Step::kStop;
    const bool first = !hasTx_.has_value();
    if (reply.kind == Reply::kNumber && reply.number >= 0 && reply.number == std::floor(reply.number)) {
        transmitting_ = reply.number != 0;
        if (first) {
            hasTx_ = true;
            decidedFor_ = link_.ConnectionNumber();
            log_.ClearPrefix("no-tx:");
            log_.Once("tx:on", Log::kInfo, "the rig reports its transmit state: no switching while it transmits");
        }
        return Step::kGo;
    }
    if (first && reply.kind == Reply::kReport && IsNotAvailable(reply.report)) {
        hasTx_ = false;
        decidedFor_ = link_.ConnectionNumber();
        log_.Clear("tx:on");
        if (mode_ == Interlock::kRequired)
            log_.Once("no-tx:required", Log::kError,
                      "the rig has no transmit state ('t' answered RPRT " + std::to_string(reply.report) +
                          ") and --interlock required is set: the output will not change");
        else
            log_.Once("no-tx:auto", Log::kWarning,
                      "the rig has no transmit state ('t' answered RPRT " + std::to_string(reply.report) +
                          "): switching without the transmit interlock");
        return Step::kGo;
    }
    if (reply.kind == Reply::kReport)
        log_.Once("report:t:" + std::to_string(reply.report), Log::kWarning,
                  "rigctld answered 't' with RPRT " + std::to_string(reply.report) + "; such polls change nothing");
    else
        BadReply("t", reply.kind == Reply::kBad ? reply : Reply{Reply::kBad, 0, 0, "not a transmit state", ""});
    return Step::kStop;
}

void PollLoop::PollOnce() {
    output_.Service();
    if (!link_.EnsureConnected()) return;
    double hertz = 0;
    if (AskFrequency(hertz) == Step::kStop) return;
    if (mode_ != Interlock::kOff && AskTransmit() == Step::kStop) return;
    if (const auto antenna = rules_->AntennaFor(hertz)) wanted_ = antenna;
    Apply();
}

void PollLoop::Apply() {
    if (!wanted_) return;
    const SwitcherTables& t = rules_->station().tables;
    const auto a = static_cast<std::size_t>(*wanted_);
    const OutputEvent event{static_cast<std::uint8_t>(t.m_antValue[a] & 0xFFu), *wanted_, t.m_antName[a]};
    if (output_.Wanted() == event) {
        log_.Clear("held");
        return;
    }
    if (mode_ == Interlock::kRequired && hasTx_ != true) return;
    if (hasTx_ == true && transmitting_) {
        log_.Once("held", Log::kInfo,
                  "transmitting: the change to antenna " + std::to_string(*wanted_ + 1) + " (" + event.name +
                      ") waits for receive");
        return;
    }
    if (log_.Clear("held"))
        log_.Info("receive: antenna " + std::to_string(*wanted_ + 1) + " (" + event.name + ") switched after transmit");
    output_.Set(event);
}

}  // namespace kelvane::svc
