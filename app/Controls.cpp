#include "app/Controls.h"

#include "common/AnsiText.h"
#include "common/ListError.h"

namespace brindlecove {

void TControl::SetEnabled(bool value) {
    if (value != FEnabled) {
        FEnabled = value;
        ShowEnabled(value);
    }
}

void TCheckBox::SetChecked(bool value) {
    if (value == FChecked) {
        return;
    }
    FChecked = value;
    ShowChecked(value);
    if (OnClick) {
        OnClick();
    }
}

void TCheckBox::Click() {
    if (Enabled()) {
        SetChecked(!FChecked);
    }
}

void TComboBox::Clear() {
    FItems.clear();
    FItemIndex = -1;
    ShowItems();
}

void TComboBox::AddItem(const std::string& text, std::int32_t value) {
    FItems.push_back({text, value});
    ShowItems();
}

const std::string& TComboBox::ItemText(int index) const {
    if (index < 0 || index >= Count()) {
        throw EListError(index);
    }
    return FItems[static_cast<std::size_t>(index)].Text;
}

std::int32_t TComboBox::ItemValue(int index) const {
    if (index < 0 || index >= Count()) {
        throw EListError(index);
    }
    return FItems[static_cast<std::size_t>(index)].Value;
}

void TComboBox::SetItemIndex(int index) {
    const int value = index >= 0 && index < Count() ? index : -1;
    if (value != FItemIndex) {
        FItemIndex = value;
        ShowItemIndex(value);
    }
}

std::string TComboBox::Text() const {
    return FItemIndex >= 0 ? ItemText(FItemIndex) : "";
}

int TComboBox::IndexOfText(const std::string& text) const {
    for (int i = 0; i < Count(); ++i) {
        if (AnsiSameText(FItems[static_cast<std::size_t>(i)].Text, text)) {
            return i;
        }
    }
    return -1;
}

void TComboBox::Select(int index) {
    if (!Enabled()) {
        return;
    }
    SetItemIndex(index);
    if (OnChange) {
        OnChange();
    }
}

void TButton::SetCaption(const std::string& value) {
    if (value != FCaption) {
        FCaption = value;
        ShowCaption(value);
    }
}

void TButton::Click() {
    if (Enabled() && OnClick) {
        OnClick();
    }
}

void TLabel::SetCaption(const std::string& value) {
    if (value != FCaption) {
        FCaption = value;
        ShowCaption(value);
    }
}

} // namespace brindlecove
