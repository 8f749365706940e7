#include "mainwindow/frmMain_definition.h"

#include "commands/endpoints.h"

using namespace Qt::StringLiterals;

namespace frmMainDefinition {
namespace {
QString path(const char16_t* resource) { return QString::fromUtf16(resource); }
constexpr std::uint32_t kBlue = 0x00FF0000;
constexpr std::uint32_t kRed = 0x000000FF;
constexpr std::uint32_t kBlack = 0x00000000;
}  // namespace

const Window& window() {
    static const Window definition{u"frmMain"_s, u"[菜单] Swiftreel"_s, 9735, 7440, path(kWindowIcon)};
    return definition;
}

const std::vector<Control>& controls() {
    // name, kind, left, top, width, height (twips), shown, picture, text, tooltip,
    // text colour, alignment, pointer, tab position
    static const std::vector<Control> definition{
        {u"cdg"_s, Kind::Dialog, 390, 390, 0, 0, false, {}, {}, {}, kBlack, Align::Left, {}, -1},
        {u"swf"_s, Kind::Hosted, 840, 2400, 2565, 2235, true, {}, {}, {}, kBlack, Align::Left, {}, 0},
        {u"lblCption"_s, Kind::Label, 630, 210, 2295, 255, true, {}, u"[菜单] Swiftreel"_s, {}, kBlue, Align::Left,
         path(kColourHand), 2},
        {u"ImaMain"_s, Kind::Image, 2550, 1140, 5505, 4560, false, path(kSkin), {}, {}, kBlack, Align::Left, {}, -1},
        {u"lblNetFlash"_s, Kind::Label, 2910, 210, 2985, 255, true, {}, u"[更多精彩Flash：Tarnwick动画网]"_s,
         u"Tarnwick动画网 - "_s + FlashSiteHost, kRed, Align::Centre, path(kColourHand), 1},
        {u"ImaMin"_s, Kind::Image, 4620, 270, 435, 435, true, {}, {}, u"最小化"_s, kBlack, Align::Left, {}, -1},
        {u"ImaMax"_s, Kind::Image, 5100, 270, 435, 435, true, {}, {}, u"最大化"_s, kBlack, Align::Left, {}, -1},
        {u"ImaClose"_s, Kind::Image, 5580, 270, 435, 435, true, {}, {}, u"关闭"_s, kBlack, Align::Left, {}, -1},
        {u"ImaClose1"_s, Kind::Image, 2970, 810, 435, 435, false, path(kHoverClose), {}, {}, kBlack, Align::Left, {},
         -1},
        {u"ImaMax1"_s, Kind::Image, 2340, 870, 435, 435, false, path(kHoverMax), {}, {}, kBlack, Align::Left, {}, -1},
        {u"ImaMin1"_s, Kind::Image, 1440, 930, 435, 435, false, path(kHoverMin), {}, {}, kBlack, Align::Left, {}, -1},
        {u"ImaIcon"_s, Kind::Image, 720, 930, 240, 240, true, path(kWindowIcon), {}, {}, kBlack, Align::Left,
         path(kMonoHand), -1},
        {u"ImaBar"_s, Kind::Image, 180, 270, 6060, 330, true, {}, {}, {}, kBlack, Align::Left, {}, -1},
    };
    return definition;
}

}  // namespace frmMainDefinition
