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
inline const QString saved = QStringLiteral("空调遥控指令保存完成！");
// Asked to open a port while an operation still runs on the one open.
inline const QString busy = QStringLiteral("设备正忙，请等当前操作结束");

} // namespace irlearn::messages
