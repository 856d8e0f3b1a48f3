#pragma once
// Where the main window's controls stand, and how they follow the window when it is resized.
//
// Every control has its name, its place at 96 dpi inside its parent (the window's client area or a
// tab page) and its anchors. The one table below holds them all; ArrangeControl turns an entry into
// the rectangle for the parent's actual size and the screen's dpi:
//
// - positions and sizes are scaled by dpi / 96;
// - a control anchored left and right keeps both distances and so stretches with its parent;
// - a control anchored right only keeps its distance to the right edge and its width;
// - the same holds vertically for the top and bottom anchors.
//
// The table and the function are portable so that the core tests check them on every build.

#include <array>
#include <cstdint>
#include <string>

namespace brindlecove {

struct TLayoutRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    int Right() const { return Left + Width; }
    int Bottom() const { return Top + Height; }
    bool operator==(const TLayoutRect&) const = default;
};

enum class TLayoutParent : std::uint8_t { Client, Page };

enum TAnchor : std::uint8_t {
    AnchorLeft = 1,
    AnchorTop = 2,
    AnchorRight = 4,
    AnchorBottom = 8,
    AnchorLeftTop = AnchorLeft | AnchorTop,
    AnchorTopRight = AnchorTop | AnchorRight,
    AnchorLeftTopRight = AnchorLeft | AnchorTop | AnchorRight,
    AnchorAll = AnchorLeft | AnchorTop | AnchorRight | AnchorBottom,
};

// The window's controls, each with one entry in WindowLayout.
enum class TControlId : std::uint8_t {
    cbEnabled,
    btnSave,
    btnCancel,
    Button1,
    JvLabel1,
    PageControl1,
    GroupBox1,
    lblLocal,
    comboLocal,
    cbAutoReconnectLocal,
    btnConnectLocal,
    GroupBox2,
    lblInt,
    comboInt,
    btnConnectInt,
    cbAutoReconnectInt,
    cbAutoRoute,
    cbMinimize,
    btnRoutes,
    Memo1,
    lblName,
    lblMaker,
    lblWebsiteCaption,
    jvlWebsite,
    lblEmailCaption,
    jvlEmail,
    lblDescription,
    Count
};

// The tab page a control lives on; Client for the controls of the window itself.
enum class TPage : std::uint8_t { None, Configuration, Log, About };

struct TLayoutEntry {
    TControlId Id;
    const char* Name; // the form's name for the control
    TPage Page;
    TLayoutRect Design; // at 96 dpi, relative to the parent
    std::uint8_t Anchors;
};

// The client area at 96 dpi, and the design size of a tab page inside it.
inline constexpr int DesignClientWidth = 633;
inline constexpr int DesignClientHeight = 306;
inline constexpr int DesignPageWidth = 626;
inline constexpr int DesignPageHeight = 219;
inline constexpr int DesignDpi = 96;
// The smallest outer size of the window at 96 dpi.
inline constexpr int MinimumOuterWidth = 640;
inline constexpr int MinimumOuterHeight = 322;

inline constexpr int ControlCount = static_cast<int>(TControlId::Count);
extern const std::array<TLayoutEntry, ControlCount> WindowLayout;

const TLayoutEntry& LayoutOf(TControlId id);

// A length at 96 dpi scaled to `dpi`, rounded to the nearest pixel.
int ScaleToDpi(int value, int dpi);

// The rectangle of `entry` in a parent of the given actual size (in pixels at `dpi`).
TLayoutRect ArrangeControl(const TLayoutEntry& entry, int parentWidth, int parentHeight, int dpi);

// The smallest outer size of the window at `dpi`.
struct TLayoutSize {
    int Width = 0;
    int Height = 0;
};
TLayoutSize MinimumOuterSize(int dpi);

// Texts of the window that the form logic does not set.
inline constexpr const char* BannerText = "Brindlecove - https://brindlecove.example";
inline constexpr const char* MakerText = "(c) 2006-2008 The Brindlecove developers";
inline constexpr const char* WebsiteAddress = "https://brindlecove.example";
inline constexpr const char* MailAddress = "support@brindlecove.example";
inline constexpr const char* DescriptionText =
    "This program will monitor 2 ISP network connections (normally created using RASPPPOE). When "
    "both are connected it will automatically set up your IP routing table to route all local "
    "(South African) traffic through the connection called \"Local\" and all other traffic "
    "through the connection called \"International\". If one or both connections are dropped it "
    "can be configured to automatically reconnect and reset the routing table after doing so.";

// Window placement texts: a value name with the screen size, as in "NormPos(1920x1080)", and the
// four numbers "x,y,x,y" (or left,top,right,bottom) of MinMaxPos and NormPos.
std::string PlacementValueName(const std::string& base, int screenWidth, int screenHeight);
std::string FormatPlacementNumbers(const std::array<int, 4>& numbers);
// Reads the four numbers; a missing or non-numeric one keeps its value from `fallback`.
std::array<int, 4> ParsePlacementNumbers(const std::string& text,
                                         const std::array<int, 4>& fallback);

// The address handed to the shell for the mail link: a new mail to `address` with the program's
// name and version as its subject.
std::string MailToLink(const std::string& address);

} // namespace brindlecove
