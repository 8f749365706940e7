#pragma once
// The stored definition of the main window: its settings, its controls in
// stacking order (the first is the topmost) and its pictures.
#include <QString>

#include <cstdint>
#include <vector>

namespace frmMainDefinition {

inline constexpr int kTwipsPerPixel = 15;

enum class Kind { Dialog, Hosted, Label, Image };
enum class Align { Left, Centre };

struct Control {
    QString name;
    Kind kind;
    // Stored rectangle in twips; Dialog controls store only a place.
    int left, top, width, height;
    bool visible;
    QString picture;  // resource path, or empty
    QString text;
    QString toolTip;
    std::uint32_t foreColor;  // 0x00BBGGRR
    Align align;
    QString pointer;  // cursor resource path, or empty
    int tabIndex;     // -1 when the control takes no tab position
};

struct Window {
    QString name;
    QString caption;
    int clientWidth, clientHeight;  // twips
    QString icon;
};

const Window& window();
const std::vector<Control>& controls();

// Resource paths of the pictures.
inline constexpr char16_t kSkin[] = u":/mainwindow/skin.gif";
inline constexpr char16_t kHoverMin[] = u":/mainwindow/hover_min.gif";
inline constexpr char16_t kHoverMax[] = u":/mainwindow/hover_max.gif";
inline constexpr char16_t kHoverClose[] = u":/mainwindow/hover_close.gif";
inline constexpr char16_t kWindowIcon[] = u":/mainwindow/window.ico";
inline constexpr char16_t kColourHand[] = u":/mainwindow/hand_colour.cur";
inline constexpr char16_t kMonoHand[] = u":/mainwindow/hand_mono.cur";
inline constexpr char16_t kProgramIcon[] = u":/mainwindow/program.ico";

}  // namespace frmMainDefinition
