// The console's page against a fake service, for the browser check
// (web_page_check.py): prints its port, then takes "tx 1" / "tx 0" on stdin.
// With "two": radio A on 20 m holds antenna 1, which radio B on 40 m waits for.
#include <iostream>

#include "tests/linux/web_fake.h"

int main(int argc, char** argv) {
    using namespace kelvane::web;
    const bool two = argc > 1 && std::string(argv[1]) == "two";
    test::FakeBackend service(two ? std::vector<std::string>{"A", "B"} : std::vector<std::string>{"1"});
    if (two) {
        RadioState &a = service.radios[0], &b = service.radios[1];
        service.Show(a, 1);
        a.choices = {1, 3};
        b.frequency_hz = 7074000;
        b.band = RadioState::Band{3, service.station.bands.name[2]};
        b.choices = {1};
        b.blockedBy = "A";
        b.inhibit = 3;
        b.source = {"flrig 127.0.0.1:12345", "connected"};
        b.output = {"parport:/dev/parport1", "ok"};
    }
    WebOptions o;
    o.rules = test::OneLineNames();
    WebServer server(service, o);
    std::string error;
    if (!server.Start(error)) return std::cerr << error << "\n", 1;
    std::cout << server.port() << std::endl;
    for (std::string command, value; std::cin >> command >> value;) {
        if (command == "tx") service.Transmit(value == "1");
        server.Notify();
        std::cout << "ok" << std::endl;
    }
}
