#include "workflows/codesave.h"

#include "codefile/codefile.h"
#include "protocol/devicestate.h"
#include "workflows/deviceview.h"
#include "workflows/messages.h"

#include <QDir>

namespace irlearn {

CodeSave::CodeSave(DeviceState &state, DeviceView &view) : m_state(state), m_view(view)
{
}

void CodeSave::Command7_Click()
{
    const QString path = m_view.chooseSaveFile(QStringLiteral("生成红外指令文件"));
    if (path.isEmpty())
        return;
    m_view.setSavePath(path);
    m_view.setSaveEnabled(true);
}

void CodeSave::Command8_Click()
{
    const QString path = m_view.savePathText().trimmed();
    QString error;
    // A failed save leaves any existing file as it was, says so, and keeps the panel open so
    // the operator can choose another place.
    if (!codefile::write(path, m_state.codeRec, &error)) {
        m_view.showMessage(QStringLiteral("红外指令文件未保存：%1\n%2")
                               .arg(QDir::toNativeSeparators(path), error));
        return;
    }
    m_view.showMessage(messages::saved);
    m_view.closeSavePanel();
}

void CodeSave::Command9_Click()
{
    m_view.closeSavePanel();
}

} // namespace irlearn
