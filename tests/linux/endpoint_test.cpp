#include <gtest/gtest.h>

#include "service/base/endpoint.h"

namespace kelvane::svc {
namespace {

using F = EndpointFault;
constexpr EndpointForm kStrict{}, kHostAlone{EndpointForm::kHost}, kPortAlone{EndpointForm::kPort},
    kAddress{EndpointForm::kRefused, true};

// Every caller's forms; a refusal names the part at fault and leaves `out` alone.
TEST(Endpoint, FormsAndRefusals) {
    const struct {
        const char* text;
        EndpointForm form;
        F::Kind fault;
        const char* got;  // "HOST|PORT" when taken, else the part at fault
    } cases[] = {
        {"shack.lan:1", kStrict, F::kNone, "shack.lan|1"},
        {"[::1]:4532", kStrict, F::kNone, "::1|4532"},
        {"::1:4532", kStrict, F::kNone, "::1|4532"},
        {"shack:065535", kStrict, F::kNone, "shack|065535"},
        {"shack", kHostAlone, F::kNone, "shack|def"},
        {"[::1]", kHostAlone, F::kNone, "::1|def"},
        {"8080", kPortAlone, F::kNone, "def|8080"},
        {"[fe80::1]:80", kAddress, F::kNone, "fe80::1|80"},
        {"shack", kStrict, F::kShape, "shack"},
        {"[::1]", kPortAlone, F::kShape, "[::1]"},
        {"[::1]4532", kHostAlone, F::kShape, "[::1]4532"},
        {"[::1:4532", kStrict, F::kShape, "[::1:4532"},
        {":4532", kStrict, F::kNoHost, ""},
        {"", kHostAlone, F::kNoHost, ""},
        {"shack:80", kAddress, F::kNotNumeric, "shack"},
        {"shack:0", kStrict, F::kPort, "0"},
        {"shack:65536", kStrict, F::kPort, "65536"},
        {"shack:45x", kHostAlone, F::kPort, "45x"},
        {"", kPortAlone, F::kPort, ""},
    };
    for (const auto& c : cases) {
        Endpoint out{"def", "def"};
        const EndpointFault fault = ParseEndpoint(c.text, c.form, out);
        EXPECT_EQ(fault.kind, c.fault) << c.text;
        EXPECT_EQ(c.fault == F::kNone ? out.host + "|" + out.port : std::string(fault.part), c.got) << c.text;
        EXPECT_TRUE(c.fault == F::kNone || out.host + out.port == "defdef") << c.text << ": changed by a refusal";
    }
    for (const char* near : {"localhost", "127.3.2.1", "::1"}) EXPECT_TRUE(IsLoopback(near)) << near;
    for (const char* far : {"0.0.0.0", "128.0.0.1", "::2", "localhost.lan", ""}) EXPECT_FALSE(IsLoopback(far)) << far;
}

}  // namespace
}  // namespace kelvane::svc
