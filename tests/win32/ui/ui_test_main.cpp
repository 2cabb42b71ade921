#include <gtest/gtest.h>
#include <ole2.h>

#include <clocale>

// The dialogs run as in the program: OLE initialised on this thread. The
// process locale is a comma-decimal one, which no field may notice.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "German_Germany.1252");
    if (FAILED(OleInitialize(nullptr))) return 2;
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
