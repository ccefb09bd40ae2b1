#pragma once

#include "base/settings.h"
#include "serial/portnames.h"
#include "workflows/deviceview.h"

#include <QWidget>

#include <array>
#include <memory>

class QPushButton;

namespace Ui {
class frm_Main;
}

namespace irlearn {

class Session;

// The main window: the connection bar, the device panel and the command-table panel beneath it,
// the log pane and the status strip. It shows what the session tells it and turns the operator's
// clicks into the session's procedures; the logic lives in the core.
class MainWindow : public QWidget, public DeviceView
{
    Q_OBJECT

public:
    explicit MainWindow(Settings settings, QWidget *parent = nullptr);
    ~MainWindow() override;

    Session &session() { return *m_session; }

    static inline const QString projectUrl = QStringLiteral("https://irlearn.example.org/");

    // ReplyView
    bool keyValue(int index) const override;
    void setKeyValue(int index, bool pressed) override;
    void setKeyEnabled(int index, bool enabled) override;
    void showMessage(const QString &text) override;
    void setLearnPromptVisible(bool visible) override;
    void hideWaitNotice() override;
    void openSavePanel() override;

    // ConnectionView
    QString portText() const override;
    QString connectCaption() const override;
    void setConnectCaption(const QString &caption) override;
    void setPortSelectorEnabled(bool enabled) override;
    void SetCommand(bool sEnb) override;

    // DeviceView
    bool toggleValue() const override;
    void setToggleValue(bool pressed) override;
    void setToggleCaption(const QString &caption) override;
    QString deviceNumberText() const override;
    QString commandNumberText() const override;
    QString commandNameText() const override;
    void showWaitNotice(const QString &caption) override;
    QString savePathText() const override;
    void setSavePath(const QString &path) override;
    void setSaveEnabled(bool enabled) override;
    void closeSavePanel() override;
    QString chooseOpenFile(const QString &title) override;
    QString chooseSaveFile(const QString &title) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Load_all();
    void Load_hwNumber();
    void Form_QueryUnload();
    void connectControls();
    void showCommandTable(bool show);
    void updatePortTip();

    std::unique_ptr<Ui::frm_Main> m_ui;
    Settings m_settings;
    PortNames m_ports;
    std::unique_ptr<Session> m_session;
    std::array<QPushButton *, 10> m_keys{};
    bool m_commandTableShown = false;
};

} // namespace irlearn
