#pragma once

#include <QString>

// The operator's messages, shown in a box titled "系统提示".
namespace irlearn::messages {

inline const QString title = QStringLiteral("系统提示");
inline const QString learnt = QStringLiteral("指令学习成功！");
inline const QString commandNumber = QStringLiteral("对不起，指令号不能为0");
inline const QString commandName = QStringLiteral("对不起，指令名称不能为空！");
inline const QString deviceNumberZero = QStringLiteral("对不起设备号不能为零！");
inline const QString deviceNumberLength =
    QStringLiteral("设备号长度必须为4位，不足以零补充，如1号设备编号为[0001]。");
// Follows what says that the device did not answer.
inline const QString checkDevice = QStringLiteral("请检查设备号和连线。");
// While the device listens for a key of the air conditioner's remote control.
inline QString pressKey(const QString &key)
{
    return QStringLiteral("请按空调遥控器上的「%1」键").arg(key);
}
// After a numbered command was learnt, while the device waits before it leaves learning mode.
inline QString learningEndsIn(int seconds)
{
    return QStringLiteral("学习成功，%1 秒后退出学习状态").arg(seconds);
}
inline const QString saved = QStringLiteral("空调遥控指令保存完成！");

} // namespace irlearn::messages
