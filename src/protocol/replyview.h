#pragma once

#include <QString>

namespace irlearn {

// What the reply handler does to the window.
class ReplyView
{
public:
    virtual ~ReplyView() = default;

    // Air-conditioner keys, Index 0 to 9. Setting a key's value raises its click when the value
    // changes, as an operator's click would.
    virtual bool keyValue(int index) const = 0;
    virtual void setKeyValue(int index, bool pressed) = 0;
    virtual void setKeyEnabled(int index, bool enabled) = 0;

    // A modal box titled "系统提示" with the information icon and one OK button; returns when the
    // operator has closed it.
    virtual void showMessage(const QString &text) = 0;

    // The prompt to aim the remote control at the device.
    virtual void setLearnPromptVisible(bool visible) = 0;
    virtual void hideWaitNotice() = 0;
    // The save panel after a read: path box emptied, save button disabled, panel moved to 960,
    // 3360 twips and shown.
    virtual void openSavePanel() = 0;
};

} // namespace irlearn
