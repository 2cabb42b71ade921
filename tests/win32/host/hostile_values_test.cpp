// Values a misbehaving host may serve: what the simulator serves when asked
// to, and what the switcher's read makes of each one.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "host/dispatch_driver.h"
#include "host/host_link.h"
#include "running_host.h"
#include "sim_host_process.h"
#include "tools/sim_host_options.h"

using namespace kelvane;
using namespace kelvane::simhost;
using namespace kelvane::testing;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Same value, NaN included (NaN never equals itself).
bool SameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

}  // namespace

TEST(SimHostOptions, ServesHostileNumbersAndTheEmptyVariantOnRequest) {
    const struct {
        std::vector<std::string> args;
        Value::Kind kind;
        double hertz;
        const char* described;
    } accepted[] = {
        {{"--freq", "nan"}, Value::Hertz, kNaN, "hz nan"},
        {{"--freq", "inf"}, Value::Hertz, kInf, "hz inf"},
        {{"--freq", "-inf"}, Value::Hertz, -kInf, "hz -inf"},
        {{"--freq", "-7000000"}, Value::Hertz, -7000000.0, "hz -7000000"},
        {{"--freq", "1e300"}, Value::Hertz, 1e300, nullptr},
        {{"--empty"}, Value::Empty, 0.0, "empty"},
        {{"--empty", "--quit-event", "x"}, Value::Empty, 0.0, "empty"},
    };
    for (const auto& c : accepted) {
        const std::string joined = c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
        Options opt;
        std::string error;
        ASSERT_TRUE(ParseOptions(c.args, opt, error)) << joined << ": " << error;
        EXPECT_EQ(opt.value.kind, c.kind) << joined;
        EXPECT_TRUE(SameDouble(opt.value.hertz, c.hertz)) << joined << " gave " << opt.value.hertz;
        if (c.described) {
            EXPECT_EQ(Describe(opt.value), c.described) << joined;
        }
    }
    // 1e300 is described in full, digit for digit, so a reader gets it back exactly.
    Options big;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--freq", "1e300"}, big, error));
    const std::string text = Describe(big.value);
    EXPECT_EQ(text.size(), 3u + 301u) << text;
    double back = 0.0;
    ASSERT_TRUE(ParseNumber(text.substr(3), back));
    EXPECT_EQ(back, 1e300);

    const std::vector<std::string> refused[] = {
        {"--freq", "1e400"},  // beyond a double: no silent infinity
        {"--freq", "-1e400"},    {"--freq", "nanx"},           {"--empty", "--freq", "1"}, {"--empty", "--fail-read"},
        {"--window", "--empty"}, {"--empty", "--repeat", "2"}, {"--steps", "1e400:10"},
    };
    for (const auto& args : refused) {
        Options opt;
        std::string why;
        EXPECT_FALSE(ParseOptions(args, opt, why)) << args[0] << " " << args[1];
        EXPECT_FALSE(why.empty()) << args[0] << " " << args[1];
    }
}

TEST(SimHost, RefusesAFrequencyBeyondADoubleWithUsage) {
    for (const char* args : {"--freq 1e400", "--empty --text abc"}) {
        std::string out;
        EXPECT_EQ(RunSimHost(args, &out), 2u) << args;
        EXPECT_NE(out.find("usage:"), std::string::npos) << out;
    }
}

// What goes over the wire, untouched by any conversion, and then what the
// switcher's read (a property get converted to a double) makes of it.
TEST(SimHost, ServesEachHostileValueAsItIsAndTheReadConvertsOrFails) {
    const struct {
        const char* args;
        const char* change;  // the host's own account of the value
        VARTYPE vt;
        double r8;                     // for VT_R8
        const char* bstr;              // for VT_BSTR
        std::optional<double> asRead;  // what GetPropertyR8 returns; none: it throws
    } cases[] = {
        {"--freq nan", "hz nan", VT_R8, kNaN, nullptr, kNaN},
        {"--freq inf", "hz inf", VT_R8, kInf, nullptr, kInf},
        {"--freq -inf", "hz -inf", VT_R8, -kInf, nullptr, -kInf},
        {"--freq 1e300", nullptr, VT_R8, 1e300, nullptr, 1e300},
        {"--freq -7000000", "hz -7000000", VT_R8, -7000000.0, nullptr, -7000000.0},
        {"--empty", "empty", VT_EMPTY, 0.0, nullptr, 0.0},
        {"--text 14000000", "text 14000000", VT_BSTR, 0.0, "14000000", 14000000.0},
        {"--text abc", "text abc", VT_BSTR, 0.0, "abc", std::nullopt},
        {"--text nan", "text nan", VT_BSTR, 0.0, "nan", std::nullopt},
        {"--text 1e400", "text 1e400", VT_BSTR, 0.0, "1e400", std::nullopt},
        {"--fail-read", "fail", VT_ERROR, 0.0, nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        SimHostProcess host(c.args);
        std::string change;
        ASSERT_TRUE(host.WaitForLine("change", &change)) << host.Transcript();
        ASSERT_TRUE(host.WaitForLine("ready")) << host.Transcript();
        if (c.change) {
            EXPECT_EQ(change.substr(change.find(' ', 7) + 1), c.change) << change;
        }

        IDispatch* dispatch = RunningHost();
        ASSERT_NE(dispatch, nullptr);
        DISPPARAMS noArgs = {nullptr, nullptr, 0, 0};
        VARIANT raw;
        VariantInit(&raw);
        EXCEPINFO info = {};
        const HRESULT hr = dispatch->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, &noArgs, &raw, &info, nullptr);
        if (c.vt == VT_ERROR) {
            EXPECT_EQ(hr, DISP_E_EXCEPTION);
            SysFreeString(info.bstrSource);
            SysFreeString(info.bstrDescription);
            SysFreeString(info.bstrHelpFile);
        } else {
            ASSERT_EQ(hr, S_OK);
            EXPECT_EQ(raw.vt, c.vt);
            if (c.vt == VT_R8) {
                EXPECT_TRUE(SameDouble(raw.dblVal, c.r8)) << raw.dblVal;
            }
            if (c.vt == VT_BSTR) {
                EXPECT_EQ(std::wstring(raw.bstrVal), std::wstring(c.bstr, c.bstr + strlen(c.bstr)));
            }
        }
        VariantClear(&raw);

        DispatchDriver driver;
        driver.AttachDispatch(dispatch);
        std::optional<double> read;
        try {
            read = driver.GetPropertyR8(2);
        } catch (const DispatchError&) {}
        ASSERT_EQ(read.has_value(), c.asRead.has_value()) << (read ? *read : 0.0);
        if (read) {
            EXPECT_TRUE(SameDouble(*read, *c.asRead)) << *read;
        }
    }
}
