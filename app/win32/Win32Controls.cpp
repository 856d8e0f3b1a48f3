// The form's controls as child windows of the main window: check boxes, drop-down lists, buttons,
// labels and the log, each showing the state its base class keeps and feeding the user's actions
// back in through the WM_COMMAND notifications the window hands on.
#include "app/win32/Win32Window.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace brindlecove {

namespace {

// The controls' ids of WM_COMMAND: the first control's, then one more for each.
constexpr WORD FirstControlId = 100;

// The links, and the program's name and maker on the About page, are bold.
bool IsBold(TControlId id) {
    return std::ranges::find(LinkControls, id) != LinkControls.end() || id == TControlId::lblName ||
           id == TControlId::lblMaker;
}

// A control of the form on a child window: the base class keeps the state and the rules, this
// one shows them and feeds the user's actions in.
template <class TBase>
class TWin32Control : public TBase, public IWin32Command {
public:
    template <class... TArgs>
    TWin32Control(TWin32MainWindow& owner, TControlId id, const char* className,
                  const std::string& text, ::DWORD style, TArgs&&... args)
        : TBase(id, std::forward<TArgs>(args)...), FOwner(owner),
          FHandle(owner.CreateChild(id, className, text, style)) {
        owner.Register(id, this);
    }
    ~TWin32Control() override { FOwner.Unregister(this->Id()); }

    HWND Handle() const { return FHandle.Get(); }

protected:
    void ShowEnabled(bool value) override { ::EnableWindow(Handle(), value ? TRUE : FALSE); }
    void Command(WORD) override {}

private:
    TWin32MainWindow& FOwner;
    TWindowHandle FHandle;
};

class TWin32CheckBox final : public TWin32Control<TCheckBox> {
public:
    TWin32CheckBox(TWin32MainWindow& owner, TControlId id, const std::string& caption)
        : TWin32Control(owner, id, "BUTTON", caption, BS_AUTOCHECKBOX | WS_TABSTOP, caption) {}

protected:
    void ShowChecked(bool value) override {
        ::SendMessageA(Handle(), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    void Command(WORD code) override {
        if (code == BN_CLICKED) {
            Click();
            // The box toggled itself; keep it showing the state the form holds.
            ShowChecked(Checked());
        }
    }
};

class TWin32ComboBox final : public TWin32Control<TComboBox> {
public:
    TWin32ComboBox(TWin32MainWindow& owner, TControlId id)
        : TWin32Control(owner, id, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP) {}

protected:
    void ShowItems() override {
        ::SendMessageA(Handle(), CB_RESETCONTENT, 0, 0);
        for (int i = 0; i < Count(); ++i) {
            const LRESULT at = ::SendMessageA(Handle(), CB_ADDSTRING, 0,
                                              reinterpret_cast<LPARAM>(ItemText(i).c_str()));
            if (at >= 0) {
                ::SendMessageA(Handle(), CB_SETITEMDATA, static_cast<WPARAM>(at),
                               static_cast<LPARAM>(ItemValue(i)));
            }
        }
        ShowItemIndex(ItemIndex());
    }
    void ShowItemIndex(int index) override {
        ::SendMessageA(Handle(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    void Command(WORD code) override {
        if (code == CBN_SELCHANGE) {
            const auto index = static_cast<int>(::SendMessageA(Handle(), CB_GETCURSEL, 0, 0));
            Select(index);
            if (ItemIndex() != index) { // refused (disabled): show the form's selection again
                ShowItemIndex(ItemIndex());
            }
        }
    }
};

class TWin32Button final : public TWin32Control<TButton> {
public:
    TWin32Button(TWin32MainWindow& owner, TControlId id, const std::string& caption)
        : TWin32Control(owner, id, "BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP, caption) {}

protected:
    void ShowCaption(const std::string& value) override {
        ::SetWindowTextA(Handle(), value.c_str());
    }
    void Command(WORD code) override {
        if (code == BN_CLICKED) {
            Click();
        }
    }
};

class TWin32Label final : public TWin32Control<TLabel> {
public:
    TWin32Label(TWin32MainWindow& owner, TControlId id, const std::string& caption)
        : TWin32Control(owner, id, "STATIC", caption, SS_LEFT, caption) {}

protected:
    void ShowCaption(const std::string& value) override {
        ::SetWindowTextA(Handle(), value.c_str());
    }
};

// The log: a multi-line edit that wraps at its width, with a vertical scroll bar and no limit of
// its own on the text length.
class TWin32LogView final : public TWin32Control<TLogView> {
public:
    TWin32LogView(TWin32MainWindow& owner, TControlId id)
        : TWin32Control(owner, id, "EDIT", "",
                        ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_TABSTOP) {
        ::SendMessageA(Handle(), EM_SETLIMITTEXT, 0, 0);
    }

    void Append(const std::string& line) override {
        const auto length = static_cast<WPARAM>(::GetWindowTextLengthA(Handle()));
        ::SendMessageA(Handle(), EM_SETSEL, length, static_cast<LPARAM>(length));
        // Text the user typed without a final line break keeps its line; ours starts a new one.
        const std::string text = (LastLineLength() != 0 ? "\r\n" : "") + line + "\r\n";
        ::SendMessageA(Handle(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }
    int LineCount() const override {
        if (::GetWindowTextLengthA(Handle()) == 0) {
            return 0;
        }
        const auto count = static_cast<int>(::SendMessageA(Handle(), EM_GETLINECOUNT, 0, 0));
        // The empty position after the last line end is not a line.
        return LastLineLength() == 0 ? count - 1 : count;
    }
    void Clear() override { ::SetWindowTextA(Handle(), ""); }
    bool GetScrollRange(int& minPos, int& maxPos) const override {
        return ::GetScrollRange(Handle(), SB_VERT, &minPos, &maxPos) != FALSE;
    }
    void ScrollThumbTo(std::uint16_t position) override {
        ::SendMessageA(Handle(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position), 0);
    }

private:
    // The length of the last displayed line: 0 when the text is empty or ends with a line break.
    LRESULT LastLineLength() const {
        const auto count = ::SendMessageA(Handle(), EM_GETLINECOUNT, 0, 0);
        const auto lastStart =
            ::SendMessageA(Handle(), EM_LINEINDEX, static_cast<WPARAM>(count - 1), 0);
        return ::SendMessageA(Handle(), EM_LINELENGTH, static_cast<WPARAM>(lastStart), 0);
    }
};

} // namespace

HWND TWin32MainWindow::CreateChild(TControlId id, const char* className, const std::string& text,
                                   ::DWORD style, ::DWORD exStyle) {
    const TLayoutEntry& entry = LayoutOf(id);
    HWND parent = Page(entry.Page);
    HWND child = ::CreateWindowExA(
        exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(FirstControlId + static_cast<WORD>(id))),
        ::GetModuleHandleA(nullptr), nullptr);
    if (child == nullptr) {
        throw std::runtime_error(std::string("Unable to create the control ") + entry.Name);
    }
    HFONT font = IsBold(id) ? FBoldFont.Get() : FFont.Get();
    ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    FControls[static_cast<std::size_t>(id)] = child;
    if (FPages[0]) {
        Arrange();
    }
    return child;
}

void TWin32MainWindow::Register(TControlId id, IWin32Command* command) {
    FCommands[static_cast<WORD>(FirstControlId + static_cast<WORD>(id))] = command;
}

void TWin32MainWindow::Unregister(TControlId id) {
    FCommands.erase(static_cast<WORD>(FirstControlId + static_cast<WORD>(id)));
    FControls[static_cast<std::size_t>(id)] = nullptr;
}

std::unique_ptr<TCheckBox> TWin32MainWindow::CreateCheckBox(TControlId id,
                                                            const std::string& caption) {
    return std::make_unique<TWin32CheckBox>(*this, id, caption);
}

std::unique_ptr<TComboBox> TWin32MainWindow::CreateComboBox(TControlId id) {
    return std::make_unique<TWin32ComboBox>(*this, id);
}

std::unique_ptr<TButton> TWin32MainWindow::CreateButton(TControlId id, const std::string& caption) {
    return std::make_unique<TWin32Button>(*this, id, caption);
}

std::unique_ptr<TLabel> TWin32MainWindow::CreateLabel(TControlId id, const std::string& caption) {
    return std::make_unique<TWin32Label>(*this, id, caption);
}

std::unique_ptr<TLogView> TWin32MainWindow::CreateLogView(TControlId id) {
    return std::make_unique<TWin32LogView>(*this, id);
}

} // namespace brindlecove
