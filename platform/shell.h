#pragma once
// What the last ShellExecuteA call was given: owner, directory and show
// command mean nothing to the Linux desktop, so they are kept for tests.
#include "platform/win32.h"

#include <QByteArray>

#include <optional>

namespace platform {

struct ShellExecuteCall {
    HWND owner = nullptr;
    QByteArray operation, file, parameters, directory;
    int showCommand = 0;
};

const std::optional<ShellExecuteCall>& lastShellExecuteCall();
void clearShellExecuteCall();

}  // namespace platform
