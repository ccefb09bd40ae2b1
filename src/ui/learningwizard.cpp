#include "learningwizard.h"

#include "engine/deviceengine.h"
#include "engine/teachhints.h"
#include "protocol/frames.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace irlearn {

namespace {

const QString title = QStringLiteral("学习向导");

// The coverage map's mark of a key: its word and its colour.
struct Mark
{
    QString word;
    const char *colour;
};

Mark markOf(const TeachItem &item)
{
    if (item.reaction == Reaction::Reacted)
        return {QStringLiteral("已试发"), "#9fc5f8"};
    if (item.reaction == Reaction::NoReaction)
        return {QStringLiteral("无反应"), "#f4cccc"};
    switch (item.status) {
    case TeachStatus::Learnt:
        return {QStringLiteral("已学会"), "#b6d7a8"};
    case TeachStatus::Failed:
        return {QStringLiteral("失败"), "#ea9999"};
    case TeachStatus::Skipped:
        return {QStringLiteral("跳过"), "#ffe599"};
    case TeachStatus::NotYet:
        break;
    }
    return {QStringLiteral("未学"), "#eeeeee"};
}

QString failureText(Outcome outcome, const QString &reply)
{
    return outcome == Outcome::Refused ? QStringLiteral("没有学会：设备应答 %1").arg(reply)
                                       : QStringLiteral("没有学会：设备无应答");
}

} // namespace

LearningWizard::LearningWizard(DeviceEngine &engine, std::function<TeachPlan()> target,
                               QWidget *parent)
    : QDialog(parent), m_engine(engine), m_target(std::move(target))
{
    setObjectName(QStringLiteral("learningWizard"));
    setWindowTitle(title);
    setModal(false);

    auto *layout = new QVBoxLayout(this);
    m_prompt = new QLabel(this);
    m_prompt->setObjectName(QStringLiteral("wizardPrompt"));
    m_prompt->setWordWrap(true);
    QFont big = m_prompt->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    m_prompt->setFont(big);
    m_prompt->setText(QStringLiteral("按「开始」逐个学习空调遥控器的十个按键"));
    layout->addWidget(m_prompt);

    m_hint = new QLabel(teachhints::general, this);
    m_hint->setObjectName(QStringLiteral("wizardHint"));
    m_hint->setWordWrap(true);
    layout->addWidget(m_hint);

    auto *status = new QHBoxLayout;
    m_countdown = new QLabel(this);
    m_countdown->setObjectName(QStringLiteral("wizardCountdown"));
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("wizardResult"));
    status->addWidget(m_countdown);
    status->addWidget(m_result, 1);
    layout->addLayout(status);

    m_warning = new QLabel(this);
    m_warning->setObjectName(QStringLiteral("wizardWarning"));
    m_warning->setWordWrap(true);
    m_warning->setStyleSheet(QStringLiteral("color: #a61c00;"));
    m_warning->hide();
    layout->addWidget(m_warning);

    // The coverage map: stays in view from the first key to the end.
    auto *marks = new QGridLayout;
    for (int i = 0; i < frames::keyCount; ++i) {
        auto *mark = new QLabel(this);
        mark->setObjectName(QStringLiteral("wizardMark%1").arg(i));
        mark->setAlignment(Qt::AlignCenter);
        mark->setMinimumWidth(56);
        marks->addWidget(mark, 0, i);
        m_marks[std::size_t(i)] = mark;
    }
    layout->addLayout(marks);
    m_commands = new QLabel(this);
    m_commands->setObjectName(QStringLiteral("wizardCommands"));
    m_commands->hide();
    layout->addWidget(m_commands);

    m_range = new QWidget(this);
    auto *range = new QHBoxLayout(m_range);
    range->setContentsMargins(0, 0, 0, 0);
    m_withCommands = new QCheckBox(QStringLiteral("再学习指令"), m_range);
    m_withCommands->setObjectName(QStringLiteral("wizardWithCommands"));
    m_firstCommand = new QSpinBox(m_range);
    m_firstCommand->setObjectName(QStringLiteral("wizardFirstCommand"));
    m_lastCommand = new QSpinBox(m_range);
    m_lastCommand->setObjectName(QStringLiteral("wizardLastCommand"));
    // The ten keys are commands 1 to 10 already.
    m_firstCommand->setRange(frames::keyCount + 1, frames::maxCommand);
    m_lastCommand->setRange(frames::keyCount + 1, frames::maxCommand);
    m_lastCommand->setValue(frames::keyCount + 10);
    range->addWidget(m_withCommands);
    range->addWidget(m_firstCommand);
    range->addWidget(new QLabel(QStringLiteral("至"), m_range));
    range->addWidget(m_lastCommand);
    range->addStretch(1);
    layout->addWidget(m_range);

    auto *buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    const auto add = [this, buttons](const QString &text, const char *name) {
        QPushButton *b = addButton(text, name);
        buttons->addWidget(b);
        return b;
    };
    m_start = add(QStringLiteral("开始"), "wizardStart");
    m_retry = add(QStringLiteral("重试"), "wizardRetry");
    m_skip = add(QStringLiteral("跳过"), "wizardSkip");
    m_send = add(QStringLiteral("试发"), "wizardSend");
    m_skipTest = add(QStringLiteral("不试这个键"), "wizardSkipTest");
    m_reacted = add(QStringLiteral("空调有反应"), "wizardReacted");
    m_notReacted = add(QStringLiteral("没有反应"), "wizardNotReacted");
    m_relearn = add(QStringLiteral("重新学习"), "wizardRelearn");
    m_finish = add(QStringLiteral("结束试发"), "wizardFinish");
    m_readSave = add(QStringLiteral("读取并保存"), "wizardReadSave");
    m_close = add(QStringLiteral("关闭"), "wizardClose");
    buttons->insertStretch(0, 1);

    connect(m_start, &QPushButton::clicked, this, &LearningWizard::start);
    connect(m_reacted, &QPushButton::clicked, this, [this] { answered(true); });
    connect(m_notReacted, &QPushButton::clicked, this, [this] { answered(false); });
    connect(m_readSave, &QPushButton::clicked, this, &LearningWizard::readAndSave);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    for (int i = 0; i < frames::keyCount; ++i) {
        TeachItem key;
        key.isKey = true;
        key.number = i + 1;
        showMark(key);
    }
    showPhase(TeachSession::Phase::Idle);
}

QPushButton *LearningWizard::addButton(const QString &text, const char *name)
{
    auto *button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

bool LearningWizard::isRunning() const
{
    return m_session && m_session->isRunning();
}

bool LearningWizard::hasEnded() const
{
    return m_session && m_session->phase() == TeachSession::Phase::Finished;
}

QList<TeachItem> LearningWizard::statuses() const
{
    return m_session ? m_session->items() : QList<TeachItem>();
}

void LearningWizard::start()
{
    if (m_session)
        return;
    TeachPlan plan = m_target();
    m_device = plan.device;
    plan.keys = TeachPlan::allKeys();
    plan.test = true;
    if (m_withCommands->isChecked()) {
        plan.firstCommand = std::min(m_firstCommand->value(), m_lastCommand->value());
        plan.lastCommand = std::max(m_firstCommand->value(), m_lastCommand->value());
    }
    m_session = new TeachSession(m_engine, plan, this);
    TeachSession *s = m_session;
    connect(s, &TeachSession::phaseChanged, this, &LearningWizard::showPhase);
    connect(s, &TeachSession::itemStarted, this, &LearningWizard::itemStarted);
    connect(s, &TeachSession::countdown, this, [this](int secondsLeft) {
        m_countdown->setText(QStringLiteral("剩余 %1 秒").arg(secondsLeft));
    });
    connect(s, &TeachSession::itemChanged, this, &LearningWizard::updateMark);
    connect(s, &TeachSession::itemLearnt, this, [this](int item) {
        m_result->setText(QStringLiteral("已学会「%1」").arg(m_session->items().at(item).name()));
        m_warning->hide();
    });
    connect(s, &TeachSession::itemFailed, this, &LearningWizard::itemFailed);
    connect(s, &TeachSession::repeatedFailures, this, [this](int inARow) {
        m_warning->setText(
            QStringLiteral("已连续 %1 次没有学会：请检查遥控器到设备的距离（一米以内）"
                           "和朝向（对准黑色的接收头），再重试。")
                .arg(inARow));
        m_warning->show();
    });
    connect(s, &TeachSession::testReady, this, &LearningWizard::testReady);
    connect(s, &TeachSession::testSent, this, &LearningWizard::testSent);
    connect(s, &TeachSession::testsDone, this, [this] {
        m_prompt->setText(QStringLiteral("试发完成"));
        m_hint->setText(QStringLiteral("按「读取并保存」把设备里的红外码存成文件。"));
    });
    connect(s, &TeachSession::finished, this, &LearningWizard::ended);
    connect(m_retry, &QPushButton::clicked, s, &TeachSession::retry);
    connect(m_skip, &QPushButton::clicked, s, &TeachSession::skip);
    connect(m_send, &QPushButton::clicked, s, &TeachSession::sendTest);
    connect(m_skipTest, &QPushButton::clicked, s, &TeachSession::skipTest);
    connect(m_finish, &QPushButton::clicked, s, &TeachSession::finish);
    connect(m_relearn, &QPushButton::clicked, this, [this] {
        if (m_noReaction >= 0)
            m_session->relearn(std::exchange(m_noReaction, -1));
    });
    for (int i = 0; i < m_session->items().size(); ++i)
        updateMark(i);
    emit runningChanged(true);
    m_session->start();
}

void LearningWizard::showPhase(TeachSession::Phase phase)
{
    using P = TeachSession::Phase;
    m_start->setVisible(phase == P::Idle);
    m_range->setVisible(phase == P::Idle);
    m_retry->setVisible(phase == P::Deciding);
    m_skip->setVisible(phase == P::Deciding);
    m_send->setVisible(phase == P::TestReady);
    m_skipTest->setVisible(phase == P::TestReady);
    m_reacted->setVisible(phase == P::Answering);
    m_notReacted->setVisible(phase == P::Answering);
    m_relearn->setVisible(m_noReaction >= 0 && (phase == P::TestReady || phase == P::TestsDone));
    m_finish->setVisible(phase == P::TestReady || phase == P::TestsDone);
    m_finish->setText(phase == P::TestsDone ? QStringLiteral("完成") : QStringLiteral("结束试发"));
    m_readSave->setVisible(phase == P::Finished);
    m_countdown->setVisible(phase == P::Learning);
    if (phase == P::Entering)
        m_result->setText(QStringLiteral("正在进入学习状态…"));
    else if (phase == P::Leaving)
        m_result->setText(QStringLiteral("正在退出学习状态…"));
    if (m_relearn->isVisible())
        m_relearn->setText(
            QStringLiteral("重新学习「%1」").arg(m_session->items().at(m_noReaction).name()));
}

void LearningWizard::itemStarted(int item, int attempt)
{
    const TeachItem &it = m_session->items().at(item);
    m_prompt->setText(it.prompt());
    m_hint->setText(it.hint());
    // No count until the device's learning window is open: the engine counts it from then.
    m_countdown->clear();
    m_result->setText(attempt > 1 ? QStringLiteral("第 %1 次").arg(attempt)
                                  : QStringLiteral("等待设备学习…"));
}

void LearningWizard::itemFailed(int, Outcome outcome, const QString &reply)
{
    m_result->setText(failureText(outcome, reply));
}

void LearningWizard::testReady(int item)
{
    const TeachItem &it = m_session->items().at(item);
    m_prompt->setText(QStringLiteral("试发「%1」").arg(it.name()));
    m_hint->setText(QStringLiteral("已退出学习状态。按「试发」把这个键发给空调，看它有没有反应。"));
    m_result->clear();
}

void LearningWizard::testSent(int item, Outcome outcome, const QString &reply)
{
    const TeachItem &it = m_session->items().at(item);
    m_prompt->setText(QStringLiteral("空调对「%1」有反应吗？").arg(it.name()));
    m_result->setText(outcome == Outcome::Done ? QStringLiteral("已发出")
                      : outcome == Outcome::TimedOut
                          ? QStringLiteral("已发出，设备无应答")
                          : QStringLiteral("已发出，设备应答 %1").arg(reply));
}

void LearningWizard::answered(bool reacted)
{
    if (!m_session || m_session->phase() != TeachSession::Phase::Answering)
        return;
    m_noReaction = reacted ? -1 : m_session->current();
    m_session->answer(reacted);
    // The phase may not change (the next key is ready at once): the relearn button follows.
    showPhase(m_session->phase());
}

void LearningWizard::ended(TeachSession::Ending ending)
{
    using E = TeachSession::Ending;
    m_noReaction = -1;
    showPhase(TeachSession::Phase::Finished);
    switch (ending) {
    case E::Completed:
        m_prompt->setText(QStringLiteral("学习向导完成"));
        break;
    case E::Cancelled:
        m_prompt->setText(QStringLiteral("学习向导已中止"));
        break;
    case E::PortLost:
        m_prompt->setText(QStringLiteral("端口连接已断开，学习向导中止"));
        break;
    case E::NoLearningMode:
        m_prompt->setText(QStringLiteral("设备没有进入学习状态：请检查设备号和连线"));
        break;
    case E::Stopped:
        m_prompt->setText(QStringLiteral("学习向导中止"));
        break;
    }
    m_hint->setText(ending == E::PortLost
                        ? QString()
                        : QStringLiteral("按「读取并保存」把设备里的红外码存成文件。"));
    m_readSave->setEnabled(ending != E::PortLost);
    emit summary(m_session->summary());
    emit runningChanged(false);
    if (m_closing)
        deleteLater();
}

void LearningWizard::updateMark(int item)
{
    const TeachItem &it = m_session->items().at(item);
    if (it.isKey) {
        showMark(it);
        return;
    }
    int learnt = 0;
    int commands = 0;
    for (const TeachItem &other : m_session->items()) {
        if (other.isKey)
            continue;
        ++commands;
        learnt += other.status == TeachStatus::Learnt ? 1 : 0;
    }
    m_commands->setText(QStringLiteral("指令：已学会 %1 / %2").arg(learnt).arg(commands));
    m_commands->show();
}

void LearningWizard::showMark(const TeachItem &key)
{
    const Mark mark = markOf(key);
    QLabel *label = m_marks[std::size_t(key.key())];
    label->setText(key.name() + QLatin1Char('\n') + mark.word);
    label->setStyleSheet(QStringLiteral("background: %1;").arg(QLatin1String(mark.colour)));
}

void LearningWizard::readAndSave()
{
    // The window's own save panel opens when the table is in.
    if (parentWidget())
        parentWidget()->activateWindow();
    m_engine.readTable(m_device);
}

void LearningWizard::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (isRunning()) {
        // The pass ends at its next safe point, with learning mode switched off.
        m_closing = true;
        m_session->cancel();
        return;
    }
    deleteLater();
}

} // namespace irlearn
