// The console's page against a fake service, for the browser check
// (web_page_check.py): prints its port, then takes "tx 1" / "tx 0" on stdin.
#include <iostream>

#include "tests/linux/web_fake.h"

int main() {
    using namespace kelvane::web;
    test::FakeBackend service;
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
