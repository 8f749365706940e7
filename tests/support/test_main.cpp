// gtest main for every test executable. Tests run on Qt's offscreen platform
// unless a test area asks for a real display (gtest discovery runs the binary
// at build time, outside ctest's environment, so the default is set here).
#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("SWIFTREEL_REAL_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
