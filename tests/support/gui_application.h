#pragma once
// Text laid out in device fonts needs a GUI application. Including this
// makes one for the whole test executable, once the test main has chosen
// the offscreen platform.
#include <QGuiApplication>
#include <gtest/gtest.h>

namespace swf::test {

class GuiApplication : public testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tests";
        static char* argv[] = {name, nullptr};
        if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
    }
};
inline testing::Environment* const kGuiApplication = testing::AddGlobalTestEnvironment(new GuiApplication);

} // namespace swf::test
