#include "app/WindowLayout.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace brindlecove {

namespace {

using enum TControlId;
constexpr TPage Client = TPage::None;
constexpr TPage Config = TPage::Configuration;
constexpr TPage About = TPage::About;

} // namespace

// Top panel (59 high) and page control in the client area; the controls of the group boxes are
// placed on the page at the group box's offset, anchored as they are inside it (the group boxes
// themselves stretch with the page). Each control's name is its id's.
#define BRINDLECOVE_CONTROL(id) id, #id
const std::array<TLayoutEntry, ControlCount> WindowLayout = {{
    {BRINDLECOVE_CONTROL(cbEnabled), Client, {16, 8, 129, 17}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(btnSave), Client, {321, 8, 97, 25}, AnchorTopRight},
    {BRINDLECOVE_CONTROL(btnCancel), Client, {425, 8, 97, 25}, AnchorTopRight},
    {BRINDLECOVE_CONTROL(Button1), Client, {529, 8, 97, 25}, AnchorTopRight},
    {BRINDLECOVE_CONTROL(JvLabel1), Client, {95, 39, 531, 13}, AnchorTopRight},
    {BRINDLECOVE_CONTROL(PageControl1), Client, {0, 59, 633, 247}, AnchorAll},
    {BRINDLECOVE_CONTROL(GroupBox1), Config, {0, 0, 626, 81}, AnchorLeftTopRight},
    {BRINDLECOVE_CONTROL(lblLocal), Config, {8, 24, 92, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(comboLocal), Config, {104, 24, 354, 21}, AnchorLeftTopRight},
    {BRINDLECOVE_CONTROL(cbAutoReconnectLocal), Config, {8, 56, 321, 17}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(btnConnectLocal), Config, {473, 24, 137, 25}, AnchorTopRight},
    {BRINDLECOVE_CONTROL(GroupBox2), Config, {0, 88, 626, 81}, AnchorLeftTopRight},
    {BRINDLECOVE_CONTROL(lblInt), Config, {8, 88 + 24, 92, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(comboInt), Config, {104, 88 + 24, 354, 21}, AnchorLeftTopRight},
    {BRINDLECOVE_CONTROL(btnConnectInt), Config, {473, 88 + 24, 137, 25}, AnchorTopRight},
    {BRINDLECOVE_CONTROL(cbAutoReconnectInt), Config, {8, 88 + 56, 393, 17}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(cbAutoRoute), Config, {8, 176, 321, 17}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(cbMinimize), Config, {8, 192, 121, 17}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(btnRoutes), Config, {473, 176, 137, 25}, AnchorTopRight},
    {BRINDLECOVE_CONTROL(Memo1), TPage::Log, {0, 0, 626, 219}, AnchorAll},
    {BRINDLECOVE_CONTROL(lblName), About, {8, 8, 400, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(lblMaker), About, {8, 24, 400, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(lblWebsiteCaption), About, {8, 51, 100, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(jvlWebsite), About, {112, 51, 300, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(lblEmailCaption), About, {8, 67, 100, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(jvlEmail), About, {112, 67, 300, 13}, AnchorLeftTop},
    {BRINDLECOVE_CONTROL(lblDescription), About, {8, 96, 609, 65}, AnchorLeftTop},
}};

#undef BRINDLECOVE_CONTROL

const TLayoutEntry& LayoutOf(TControlId id) {
    return WindowLayout[static_cast<std::size_t>(id)];
}

int ScaleToDpi(int value, int dpi) {
    const long long scaled = static_cast<long long>(value) * dpi;
    const long long half = DesignDpi / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / DesignDpi
                                        : -((-scaled + half) / DesignDpi));
}

TLayoutRect ArrangeControl(const TLayoutEntry& entry, int parentWidth, int parentHeight, int dpi) {
    const bool onPage = entry.Page != TPage::None;
    const int designWidth = ScaleToDpi(onPage ? DesignPageWidth : DesignClientWidth, dpi);
    const int designHeight = ScaleToDpi(onPage ? DesignPageHeight : DesignClientHeight, dpi);
    TLayoutRect r{ScaleToDpi(entry.Design.Left, dpi), ScaleToDpi(entry.Design.Top, dpi),
                  ScaleToDpi(entry.Design.Width, dpi), ScaleToDpi(entry.Design.Height, dpi)};
    const int dx = parentWidth - designWidth;
    const int dy = parentHeight - designHeight;
    if ((entry.Anchors & AnchorRight) != 0) {
        if ((entry.Anchors & AnchorLeft) != 0) {
            r.Width = std::max(0, r.Width + dx);
        } else {
            r.Left += dx;
        }
    }
    if ((entry.Anchors & AnchorBottom) != 0) {
        if ((entry.Anchors & AnchorTop) != 0) {
            r.Height = std::max(0, r.Height + dy);
        } else {
            r.Top += dy;
        }
    }
    return r;
}

TLayoutSize MinimumOuterSize(int dpi) {
    return {ScaleToDpi(MinimumOuterWidth, dpi), ScaleToDpi(MinimumOuterHeight, dpi)};
}

std::string PlacementValueName(const std::string& base, int screenWidth, int screenHeight) {
    return base + "(" + std::to_string(screenWidth) + "x" + std::to_string(screenHeight) + ")";
}

std::string FormatPlacementNumbers(const std::array<int, 4>& numbers) {
    return std::to_string(numbers[0]) + "," + std::to_string(numbers[1]) + "," +
           std::to_string(numbers[2]) + "," + std::to_string(numbers[3]);
}

std::array<int, 4> ParsePlacementNumbers(const std::string& text,
                                         const std::array<int, 4>& fallback) {
    std::array<int, 4> numbers = fallback;
    std::size_t start = 0;
    for (std::size_t i = 0; i < numbers.size() && start <= text.size(); ++i) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::size_t first = start;
        while (first < end && text[first] == ' ') {
            ++first;
        }
        int value = 0;
        const char* last = text.data() + end;
        const auto [ptr, error] = std::from_chars(text.data() + first, last, value);
        if (error == std::errc() && ptr == last && first < end) {
            numbers[i] = value;
        }
        start = end + 1;
    }
    return numbers;
}

std::string MailToLink(const std::string& address) {
    return std::string("mailto:") + address + "?Subject=" + "Brindlecove" + " " + "v1.01";
}

} // namespace brindlecove
