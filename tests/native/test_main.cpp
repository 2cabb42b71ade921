#include <gtest/gtest.h>

#include <clocale>

// Every test runs in a comma-decimal locale: the conversions must not notice.
const char* CommaLocale() {
#if defined(_WIN32)
    return std::setlocale(LC_ALL, "German_Germany.1252");
#else
    return std::setlocale(LC_ALL, "de_DE.UTF-8");
#endif
}

int main(int argc, char** argv) {
    CommaLocale();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
