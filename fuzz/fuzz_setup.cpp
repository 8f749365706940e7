#include "fuzz/fuzz_setup.h"

#include <QGuiApplication>
#include <QTemporaryDir>

namespace fuzzing {

void initialise(int* argc, char*** argv) {
    // Text layout needs a QGuiApplication; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QTemporaryDir data;
    if (qEnvironmentVariableIsEmpty("XDG_DATA_HOME")) qputenv("XDG_DATA_HOME", data.path().toUtf8());
    // Qt's image readers warn about every broken JPEG; keep the log readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QGuiApplication app(*argc, *argv);
}

} // namespace fuzzing
