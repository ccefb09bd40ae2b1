#pragma once

#include "protocol/replyview.h"
#include "serial/connection.h"

#include <QString>

namespace irlearn {

// Everything the workflows read from and do to the window. The window implements it; the core
// never sees a widget.
class DeviceView : public ReplyView, public ConnectionView
{
public:
    // The learning-mode toggle. Setting its value raises no click.
    virtual bool toggleValue() const = 0;
    virtual void setToggleValue(bool pressed) = 0;
    virtual void setToggleCaption(const QString &caption) = 0;

    virtual QString deviceNumberText() const = 0;  // Text1
    virtual QString commandNumberText() const = 0; // Combo2
    virtual QString commandNameText() const = 0;   // Text3

    // The wait notice with its caption.
    virtual void showWaitNotice(const QString &caption) = 0;

    // The save panel.
    virtual QString savePathText() const = 0; // Text5
    virtual void setSavePath(const QString &path) = 0;
    virtual void setSaveEnabled(bool enabled) = 0; // Command8
    virtual void closeSavePanel() = 0;

    // File dialogs; an empty result means the operator cancelled.
    virtual QString chooseOpenFile(const QString &title) = 0;
    virtual QString chooseSaveFile(const QString &title) = 0;
};

} // namespace irlearn
