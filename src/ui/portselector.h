#pragma once

#include <QComboBox>

namespace irlearn {

// The port selector: tells when its list is about to open, so that the list shows the ports as
// they are now (an adapter plugged in after start-up included).
class PortSelector : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        emit aboutToShowPopup();
        QComboBox::showPopup();
    }

signals:
    void aboutToShowPopup();
};

} // namespace irlearn
