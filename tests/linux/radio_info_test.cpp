// RadioInfo datagrams: the reader on its own, then the listener on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>

#include "core/band_match.h"
#include "service/config/config_file.h"
#include "service/sources/flrig/flrig_client.h"
#include "service/sources/udp/udp_listener.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

std::string Packet(const std::string& body) { return "<?xml version=\"1.0\"?>\n<RadioInfo>" + body + "</RadioInfo>"; }

TEST(RadioInfo, ReadsTheFieldsAndLetsTheTransmitFrequencyDecide) {
    struct Case {
        std::string body;
        int radio;
        std::uint64_t band;
        std::optional<bool> tx;
    } cases[] = {
        {"<RadioNr>2</RadioNr><Freq>1407400</Freq><TXFreq>1407600</TXFreq><IsTransmitting>True</IsTransmitting>", 2,
         14076000, true},
        {"<Freq>352211</Freq><TXFreq>0</TXFreq><IsTransmitting>false</IsTransmitting>", 1, 3522110, false},
        {"<Mode>CW</Mode><Freq>0007100000</Freq><!-- c --><Rotors><a>1</a></Rotors>", 1, 71000000, std::nullopt},
        {"<Freq><![CDATA[2120000]]></Freq><IsTransmitting>TRUE</IsTransmitting><RadioNr>255</RadioNr>", 255, 21200000,
         true},
    };
    for (const auto& c : cases) {
        const RadioInfoRead read = ReadRadioInfo(Packet(c.body));
        ASSERT_TRUE(read.info) << c.body << ": " << read.refusal;
        EXPECT_EQ(read.info->radio, c.radio) << c.body;
        EXPECT_EQ(read.info->BandHertz(), c.band) << c.body;
        EXPECT_EQ(read.info->transmitting, c.tx) << c.body;
    }
}

TEST(RadioInfo, HostileDatagramsAreRefusedWithTheirReason) {
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
        "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
        "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
        "<RadioInfo><Freq>&lol3;</Freq></RadioInfo>";
    std::string utf16 = "\xFF\xFE";
    for (const char c : Packet("<Freq>1</Freq>")) utf16 += std::string{c, '\0'};
    struct Case {
        std::string datagram;
        const char* reason;
    } cases[] = {
        {"RadioInfo Freq 1407400", "not XML"},
        {Packet("<Freq>1407400</Freq>").substr(0, 40), "not XML"},
        {Packet("<Freq>1</Freq><Pad>" + std::string(64 * 1024, 'x') + "</Pad>"), "more than 8192"},
        {laughs, "DOCTYPE"},
        {"<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><RadioInfo><Freq>&x;</Freq></RadioInfo>", "DOCTYPE"},
        {Packet("<Freq>14.074</Freq>"), "not a plain number"},
        {Packet("<Freq>abc</Freq>"), "not a plain number"},
        {Packet("<Freq>-1407400</Freq>"), "not a plain number"},
        {Packet("<Freq>1e400</Freq>"), "not a plain number"},
        {Packet("<Freq></Freq>"), "empty"},
        {Packet("<Freq>" + std::string(400, '9') + "</Freq>"), "out of range"},
        {Packet("<Freq>1000000000001</Freq>"), "out of range"},
        {Packet("<Freq>1</Freq><Freq>2</Freq>"), "twice"},
        {Packet("<Freq>1<b>2</b></Freq>"), "more than text"},
        {Packet("<TXFreq>1</TXFreq>"), "no <Freq>"},
        {Packet("<Freq>1</Freq><TXFreq>x</TXFreq>"), "TXFreq"},
        {Packet("<Freq>1</Freq><IsTransmitting>yes</IsTransmitting>"), "neither True nor False"},
        {Packet("<Freq>1</Freq><RadioNr>0</RadioNr>"), "count from 1"},
        {Packet("<Freq>1</Freq><RadioNr>256</RadioNr>"), "out of range"},
        {"<RadioInf><Freq>1</Freq></RadioInf>", "not <RadioInfo>"},
        {"<RadioInfo><Freq>1</Freq></RadioInfo><RadioInfo><Freq>2</Freq></RadioInfo>", "more than one root"},
        {utf16, "UTF-16"},
        {utf16.substr(2), "byte 0"},
    };
    for (const auto& c : cases) {
        const RadioInfoRead read = ReadRadioInfo(c.datagram);
        EXPECT_FALSE(read.info) << Printable(c.datagram, 80);
        EXPECT_NE(read.refusal.find(c.reason), std::string::npos) << read.refusal;
    }
}

TEST(SourceSpecs, UdpAndFlrigFormsAndTheirRefusals) {
    struct Case {
        const char* text;
        const char* parsed;  // "ADDR|PORT|RADIO" or "HOST:PORT"; nullptr when refused
    } cases[] = {
        {"udp", "|12060|1"},
        {"udp:,radio=3", "|12060|3"},
        {"udp:127.0.0.1:5000,radio=2", "127.0.0.1|5000|2"},
        {"udp:[::1]:5000", "::1|5000|1"},
        {"udp:0", nullptr},
        {"udp:70000", nullptr},
        {"udp:localhost:5000", nullptr},
        {"udp:1.2.3.4:", nullptr},
        {"udp:5000,radio=0", nullptr},
        {"udp:5000,radio=x", nullptr},
        {"udp:5000,port=1", nullptr},
        {"udpx", nullptr},
        {"flrig", "localhost:12345"},
        {"flrig:[::1]", "::1:12345"},
        {"flrig:shack:4000", "shack:4000"},
        {"flrig:", nullptr},
        {"flrig:shack:0", nullptr},
        {"flrigs:shack:1", nullptr},
    };
    for (const auto& c : cases) {
        std::string why, got;
        bool ok;
        if (std::string_view(c.text).starts_with("udp")) {
            UdpSpec spec;
            ok = ParseUdpSpec(c.text, spec, why);
            got = spec.address + "|" + std::to_string(spec.port) + "|" + std::to_string(spec.radio);
        } else {
            Endpoint endpoint;
            ok = ParseFlrigSpec(c.text, endpoint, why);
            got = endpoint.host + ":" + endpoint.port;
        }
        EXPECT_EQ(ok, c.parsed != nullptr) << c.text << ": " << why;
        if (c.parsed) {
            EXPECT_EQ(got, c.parsed) << c.text;
        }
        EXPECT_EQ(why.empty(), ok) << c.text;
    }
}

// Drains until `count` datagrams (readings, other radios and refusals) have come.
UdpListener::Drained DrainAll(UdpListener& listener, std::size_t count, std::size_t limit = 256) {
    UdpListener::Drained all;
    Eventually([&] { return all.readings.size() + all.otherRadios + all.refusals.size() >= count; },
               [&] {
                   pollfd p{listener.Fd(), POLLIN, 0};
                   if (::poll(&p, 1, 100) <= 0) return;
                   auto d = listener.Drain(limit);
                   all.readings.insert(all.readings.end(), d.readings.begin(), d.readings.end());
                   all.refusals.insert(all.refusals.end(), d.refusals.begin(), d.refusals.end());
                   all.otherRadios += d.otherRadios;
                   all.more = all.more || d.more;
               });
    return all;
}

TEST(UdpListener, FollowsItsRadioAndReportsWhatItRefuses) {
    std::string why;
    UdpListener listener(UdpSpec{"127.0.0.1", 0, 2});
    ASSERT_TRUE(listener.Open(why)) << why;
    Loopback sender;
    const int port = listener.Port();
    sender.Send(port, Packet("<RadioNr>1</RadioNr><Freq>710000</Freq>"));
    sender.Send(port, Packet("<RadioNr>2</RadioNr><Freq>1407400</Freq>"));
    sender.Send(port, "junk");
    sender.Send(port, std::string(65507, '<'));  // the largest UDP payload
    sender.Send(port, Packet("<RadioNr>2</RadioNr><Freq>2120000</Freq><IsTransmitting>True</IsTransmitting>"));
    const auto got = DrainAll(listener, 5, 2);
    ASSERT_EQ(got.readings.size(), 2u);
    EXPECT_EQ(got.readings[0].rxHertz, 14074000u);
    EXPECT_EQ(got.readings[1].transmitting, true);
    EXPECT_EQ(got.otherRadios, 1u);
    ASSERT_EQ(got.refusals.size(), 2u);
    EXPECT_NE(got.refusals[0].find("from 127.0.0.1:"), std::string::npos) << got.refusals[0];
    EXPECT_NE(got.refusals[1].find("65507 bytes"), std::string::npos) << got.refusals[1];
    EXPECT_TRUE(got.more);
    // Opened last: a unicast datagram goes to the socket that bound last.
    UdpListener sharing(UdpSpec{"127.0.0.1", listener.Port(), 1});
    EXPECT_TRUE(sharing.Open(why)) << "SO_REUSEADDR: " << why;
}

TEST(UdpListener, ReadsWhatOurSenderSends) {
    UdpListener listener(UdpSpec{"127.0.0.1", 0, 3});
    std::string why;
    ASSERT_TRUE(listener.Open(why)) << why;
    const std::string command = std::string("/usr/bin/python3 ") + KELVANE_SOURCE_DIR +
                                "/scripts/lib/radioinfo-send.py --radio 3 --freq 14349990 --tx-freq 14351000 --tx "
                                "--port " +
                                std::to_string(listener.Port());
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto got = DrainAll(listener, 1);
    ASSERT_EQ(got.readings.size(), 1u) << (got.refusals.empty() ? "" : got.refusals[0]);
    EXPECT_EQ(got.readings[0].rxHertz, 14349990u);
    EXPECT_EQ(got.readings[0].BandHertz(), 14351000u);
    EXPECT_EQ(got.readings[0].transmitting, true);
}

TEST(ConfigFile, GoodAndBadLines) {
    constexpr std::string_view kKnown[] = {"source", "output", "poll"};
    struct Case {
        std::string text;
        std::string want;  // "name=value@line;..." or the error
    } cases[] = {
        {"# kelvane\n\n  source = udp:12060,radio=2  \r\npoll=100\n\toutput\t=\tgpio:/dev/gpiochip0:1=2\n",
         "output=gpio:/dev/gpiochip0:1=2@5;poll=100@4;source=udp:12060,radio=2@3;"},
        {"", ""},
        {"source = a\nsorce = b\n", "line 2: unknown option 'sorce'"},
        {"source = a\nsource = b\n", "line 2: source given again (first on line 1)"},
        {"poll\n", "line 1: 'name = value' expected"},
        {"poll =   \n", "line 1: poll without a value"},
        {" = 100\n", "line 1: no name before '='"},
        {"\n[radio A]\nsource = a\n", "line 2: [radio A] is not a section taken here"},
        {"source = a\x1b[2J\n", "line 1: a control character"},
        {std::string(kConfigMaxBytes + 1, '#'), "more than 65536 bytes"},
    };
    for (const auto& c : cases) {
        const ConfigRead read = ReadConfig(c.text, kKnown);
        std::string got = read.error;
        if (read.file)
            for (const auto& [name, v] : read.file->options)
                got += name + "=" + v.value + "@" + std::to_string(v.line) + ";";
        EXPECT_EQ(got, c.want) << Printable(c.text, 60);
    }
}

}  // namespace
}  // namespace kelvane::svc::test
