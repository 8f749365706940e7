#pragma once
// The Screen, the App and the standard message box.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

namespace Screen {
// The primary screen's size in twips and the twips per pixel (1440 / dpi).
float Width();
float Height();
float TwipsPerPixelX();
float TwipsPerPixelY();

// Tests set the screen's facts in pixels and dots per inch; nullopt restores
// the real primary screen.
struct Metrics {
    int widthPixels;
    int heightPixels;
    double dpiX;
    double dpiY;
};
void overrideForTests(std::optional<Metrics> metrics);
}  // namespace Screen

namespace App {
// True when another process of this program runs for the same user. The
// first call takes a per-user lock that the kernel drops when the process
// ends in any way, so a crashed instance never blocks a later start.
bool PrevInstance();
// Gives the lock up (tests that play several instances in one process).
void releaseInstanceLock();
// Where the per-user lock lives.
QString instanceLockPath();
// The folder that holds the running executable.
QString Path();

// The argument text: the arguments after the program's own name joined by
// single spaces. The entry point hands them over once.
void setArguments(const QStringList& argumentsAfterProgramName);
QString Command();

// Ends the process at once: no unload, no clean-up beyond the work given to
// setBeforeEnd, which runs first (what must outlive the process is written).
[[noreturn]] void End();
void setBeforeEnd(std::function<void()> work);
// Tests replace the ending; the replacement must not return (it throws).
void setEndForTests(std::function<void()> end);
}  // namespace App

// Message box styles and results used here.
inline constexpr int vbOKOnly = 0;
inline constexpr int vbOKCancel = 1;
inline constexpr int vbYesNo = 4;
inline constexpr int vbCritical = 16;
inline constexpr int vbQuestion = 32;
inline constexpr int vbExclamation = 48;
inline constexpr int vbInformation = 64;
inline constexpr int vbOK = 1;
inline constexpr int vbCancel = 2;
inline constexpr int vbYes = 6;
inline constexpr int vbNo = 7;

// A modal message box; returns the button that closed it. The exact text
// given is kept in the box's "msgBoxText" property.
int MsgBox(const QString& prompt, int buttons, const QString& title);

}  // namespace platform
