#pragma once
// The controls of the main window as the form logic sees them, with the semantics of the toolkit
// the window was designed with:
//
// - a check box set from code to a different value fires OnClick as a click would; set to the
//   value it has, it fires nothing;
// - a drop-down list's selection set from code fires nothing; a user's selection fires OnChange;
// - a button carries a caption and an integer tag;
// - the log view counts its lines as displayed, wrapped pieces included.
//
// Each class keeps the state and the event rules; an edition's window derives from it and shows
// the state through the Show... hooks (the Win32 window), or shows nothing (headless).

#include "app/WindowLayout.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace brindlecove {

// Each control is one of the window's, known by its id; its name and place are in WindowLayout.
class TControl {
public:
    explicit TControl(TControlId id) : FId(id) {}
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;
    virtual ~TControl() = default;

    TControlId Id() const { return FId; }
    const char* Name() const { return LayoutOf(FId).Name; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);

protected:
    virtual void ShowEnabled(bool) {}

private:
    TControlId FId;
    bool FEnabled = true;
};

class TCheckBox : public TControl {
public:
    TCheckBox(TControlId id, std::string caption) : TControl(id), FCaption(std::move(caption)) {}

    const std::string& Caption() const { return FCaption; }
    bool Checked() const { return FChecked; }
    // From code: fires OnClick when the state changes.
    void SetChecked(bool value);
    // The user's click: toggles the state and fires OnClick (only while enabled).
    void Click();

    std::function<void()> OnClick;

protected:
    virtual void ShowChecked(bool) {}

private:
    std::string FCaption;
    bool FChecked = false;
};

class TComboBox : public TControl {
public:
    using TControl::TControl;

    void Clear();
    void AddItem(const std::string& text, std::int32_t value);
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::string& ItemText(int index) const;
    std::int32_t ItemValue(int index) const;

    // -1 when nothing is selected. Setting it from code fires nothing.
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int index);
    // The text of the selected item; empty without a selection.
    std::string Text() const;
    // The first item whose text equals `text` without regard to letter case; -1 when none.
    int IndexOfText(const std::string& text) const;

    // The user's selection: selects the item and fires OnChange (only while enabled).
    void Select(int index);

    std::function<void()> OnChange;

protected:
    virtual void ShowItems() {}
    virtual void ShowItemIndex(int) {}

private:
    struct TItem {
        std::string Text;
        std::int32_t Value;
    };
    std::vector<TItem> FItems;
    int FItemIndex = -1;
};

class TButton : public TControl {
public:
    TButton(TControlId id, std::string caption) : TControl(id), FCaption(std::move(caption)) {}

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& value);
    std::int32_t Tag() const { return FTag; }
    void SetTag(std::int32_t value) { FTag = value; }
    // The user's click: fires OnClick (only while enabled).
    void Click();

    std::function<void()> OnClick;

protected:
    virtual void ShowCaption(const std::string&) {}

private:
    std::string FCaption;
    std::int32_t FTag = 0;
};

class TLabel : public TControl {
public:
    TLabel(TControlId id, std::string caption) : TControl(id), FCaption(std::move(caption)) {}
    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& value);

protected:
    virtual void ShowCaption(const std::string&) {}

private:
    std::string FCaption;
};

// A multi-line text view with a vertical scroll bar, wrapping long lines at its width.
class TLogView : public TControl {
public:
    using TControl::TControl;

    virtual void Append(const std::string& line) = 0;
    // The lines as displayed: a line that wraps counts once per piece; the empty position after
    // the last line does not count.
    virtual int LineCount() const = 0;
    virtual void Clear() = 0;
    // The vertical scroll range (GetScrollRange with SB_VERT); false when the system has none.
    virtual bool GetScrollRange(int& minPos, int& maxPos) const = 0;
    // Scrolls so that the thumb stands at `position` (WM_VSCROLL with SB_THUMBPOSITION).
    virtual void ScrollThumbTo(std::uint16_t position) = 0;
};

// Creates the controls of an edition's window.
class IControlFactory {
public:
    virtual ~IControlFactory() = default;
    virtual std::unique_ptr<TCheckBox> CreateCheckBox(TControlId id,
                                                      const std::string& caption) = 0;
    virtual std::unique_ptr<TComboBox> CreateComboBox(TControlId id) = 0;
    virtual std::unique_ptr<TButton> CreateButton(TControlId id, const std::string& caption) = 0;
    virtual std::unique_ptr<TLabel> CreateLabel(TControlId id, const std::string& caption) = 0;
    virtual std::unique_ptr<TLogView> CreateLogView(TControlId id) = 0;
};

// Controls that keep their state and show it nowhere (a headless host); the log view is the
// host's own.
class TPlainControls : public IControlFactory {
public:
    std::unique_ptr<TCheckBox> CreateCheckBox(TControlId id, const std::string& caption) override {
        return std::make_unique<TCheckBox>(id, caption);
    }
    std::unique_ptr<TComboBox> CreateComboBox(TControlId id) override {
        return std::make_unique<TComboBox>(id);
    }
    std::unique_ptr<TButton> CreateButton(TControlId id, const std::string& caption) override {
        return std::make_unique<TButton>(id, caption);
    }
    std::unique_ptr<TLabel> CreateLabel(TControlId id, const std::string& caption) override {
        return std::make_unique<TLabel>(id, caption);
    }
};

} // namespace brindlecove
