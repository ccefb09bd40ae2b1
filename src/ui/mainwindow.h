#pragma once

#include "base/logbuffer.h"
#include "base/sessionlog.h"
#include "base/settings.h"
#include "codefile/codetable.h"
#include "codefile/tablelabels.h"
#include "protocol/timings.h"
#include "serial/portnames.h"
#include "serial/portstate.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>

class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;

namespace Ui {
class MainWindowForm;
}

namespace irlearn {

class DeviceEngine;
class DeviceLink;
class LearningWizard;
struct OperationResult;

// The main window: the connection bar, the device panel and the command-table panel beneath it,
// the log pane and the status strip. It turns the operator's clicks into the device engine's
// operations and shows what the engine reports; the dialogue with the device lives in the engine.
//
// While an operation runs, the other device operations are disabled. The keys keep their own
// rule on top of that: while a key is being learnt, the nine others stay disabled until the
// device reports success (or the port is connected anew).
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(Settings settings, Timings timings = {}, QWidget *parent = nullptr);
    // The window on any line instead of the serial port; it takes the line over.
    MainWindow(Settings settings, DeviceLink *link, Timings timings = {},
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // Port and device number from the command line, shown instead of the saved ones (either may
    // be empty: that one stays as saved). They are not the operator's choice: on close, a field
    // that still holds its start-up value keeps the value the settings file had.
    void startWith(const QString &port, const QString &device);

    DeviceEngine &engine() { return *m_engine; }
    const CodeTable &table() const { return m_table; }

    // How far each key and numbered command of the table in hand is known to work; the next
    // save writes them into the table's labels.
    void setTableStatuses(const QMap<QString, KeyStatus> &keys,
                          const QMap<int, KeyStatus> &commands = {});

    // What the status strip's link opens: the README the package installs beside the program
    // (<prefix>/share/doc/irlearn/README.md). Where there is none, as in a build tree, the link
    // is not shown.
    static QString manualPath();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectControls();
    void connectEngine();
    void loadState();
    void saveState();
    void fillCommandNumbers();
    void refreshPorts();
    void updatePortTip();
    void buildLogMenu();
    void logLine(const QString &line); // to the log pane and the session log
    void saveLogClicked();
    void openLogFolderClicked();
    void showConnectFailure(const QString &why);
    void showCommandTable(bool show);
    void placeLearnPrompt();
    void updateControls();
    void showMessage(const QString &text);
    void showProgress(int done, int total);

    // One slot per control that reaches the device or the code table.
    void connectClicked();        // connectButton
    void learningToggleClicked(); // learningToggle
    void keyClicked(int index);   // keyButton0 ... keyButton9
    void learnCommandClicked();   // learnCommandButton
    void deviceNumberClicked();   // setDeviceNumberButton
    void readTableClicked();      // readTableButton
    void downloadClicked();       // downloadTableButton
    void chooseSaveFileClicked(); // browseSaveFileButton
    void saveTableClicked();      // saveTableButton
    void libraryClicked();        // libraryButton

    void buildLabelFields();
    TableLabels labelsFromPanel() const;
    void downloadFile(const QString &path);

    QString lastFolder() const;
    void rememberFolder(const QString &chosenPath);
    bool mayReplace(const QString &path);
    void openWizard(); // learningWizardButton
    bool wizardRunning() const;

    void keysAtRest();
    void openSavePanel(const CodeTable &table);
    void portOpened();
    void portOpenFailed(const OpenFailure &failure);
    void disconnected();

    std::unique_ptr<Ui::MainWindowForm> m_ui;
    Settings m_settings;
    PortNames m_ports;
    DeviceEngine *m_engine = nullptr;
    LogBuffer m_log;
    SessionLog m_session;
    bool m_sessionProblemTold = false;
    CodeTable m_table;
    std::array<QPushButton *, 10> m_keys{};
    std::array<bool, 10> m_keyAllowed{};
    bool m_connected = false;
    QString m_openingName; // the port being opened, as the log names it
    QString m_openingDevice;
    // The click being handled was started by the operator's mouse. Set at start-up too, so the
    // very first keyboard activation counts as well.
    bool m_userClick = true;
    bool m_commandTableShown = false;
    QString m_noticeCaption;
    QString m_promptText;
    QString m_promptBase; // the prompt's text before its countdown
    QString m_keyPrompt;  // the key the next prompt names; empty: a numbered command's
    QString m_credit;     // the status strip's own line, while no failure is told there
    QPushButton *m_wizardButton = nullptr; // beside the learning toggle
    QPointer<LearningWizard> m_wizard;
    QMenu *m_logMenu = nullptr;
    QAction *m_timeStamps = nullptr; // the log menu's "时间戳"
    QString m_startPort;             // from the command line, see startWith()
    QString m_startDevice;           // from the command line, see startWith()
    // The save panel's labels and the library, made in code beside the form's own controls.
    QLineEdit *m_brandEdit = nullptr;
    QLineEdit *m_modelEdit = nullptr;
    QLineEdit *m_remoteEdit = nullptr;
    QLineEdit *m_notesEdit = nullptr;
    QCheckBox *m_addToLibraryBox = nullptr;
    QPushButton *m_libraryButton = nullptr;
    QString m_readDevice; // the device number the table in hand was read from
    QMap<QString, KeyStatus> m_keyStatuses;
    QMap<int, KeyStatus> m_commandStatuses;
};

} // namespace irlearn
