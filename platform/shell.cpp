#include "platform/shell.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace platform {
namespace {

std::optional<ShellExecuteCall>& lastCall() {
    static std::optional<ShellExecuteCall> call;
    return call;
}

QByteArray bytes(const char* text) { return text ? QByteArray(text) : QByteArray(); }

// ShellExecute's own failure codes.
constexpr std::intptr_t kFileNotFound = 2;
constexpr std::intptr_t kNoAssociation = 31;
constexpr std::intptr_t kOpened = 42;

}  // namespace

const std::optional<ShellExecuteCall>& lastShellExecuteCall() { return lastCall(); }
void clearShellExecuteCall() { lastCall().reset(); }

std::intptr_t ShellExecuteA(HWND hwnd, const char* lpOperation, const char* lpFile, const char* lpParameters,
                            const char* lpDirectory, int nShowCmd) {
    lastCall() = ShellExecuteCall{hwnd, bytes(lpOperation), bytes(lpFile), bytes(lpParameters), bytes(lpDirectory),
                                  nShowCmd};
    // Tolerant parsing percent-encodes what a URL cannot hold as it stands
    // (the Chinese mail subject); the handler decodes it back unchanged.
    const QUrl url(QString::fromLocal8Bit(bytes(lpFile)), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https" && scheme != u"mailto"))
        return kFileNotFound;
    return QDesktopServices::openUrl(url) ? kOpened : kNoAssociation;
}

}  // namespace platform
