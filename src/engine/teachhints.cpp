#include "engine/teachhints.h"

#include "protocol/frames.h"

#include <array>

namespace irlearn::teachhints {

namespace {

struct Hint
{
    const char *button;
    const char *setup;
};

// In the keys' order: 开机, 关机, 制冷, 制热, 除湿, 自动风, 强力风, 20℃, 25℃, 30℃.
constexpr std::array<Hint, frames::keyCount> hints{{
    {"电源键", "空调先关着，遥控器显示关机；按下后遥控器应显示开机和常用的模式、温度。"},
    {"电源键", "空调先开着；这一下把它关掉，按下后遥控器应显示关机。"},
    {"模式键", "遥控器开着，先切到制冷的前一个模式；这一下切到制冷，按下后应显示制冷。"},
    {"模式键", "遥控器开着，先切到制热的前一个模式；这一下切到制热，按下后应显示制热。"},
    {"模式键", "遥控器开着，先切到除湿的前一个模式；这一下切到除湿，按下后应显示除湿。"},
    {"风速键", "遥控器开着，先切到自动风的前一档；这一下切到自动风，按下后风速应显示自动。"},
    {"风速键（有「强力」键就按它）",
     "遥控器开着，先切到强力风的前一档；这一下切到强力（最高档）风，按下后应显示强力。"},
    {"温度「－」键", "遥控器开着，先调到21℃；这一下调到20℃，按下后应显示20℃。"},
    {"温度「＋」键", "遥控器开着，先调到24℃；这一下调到25℃，按下后应显示25℃。"},
    {"温度「＋」键", "遥控器开着，先调到29℃；这一下调到30℃，按下后应显示30℃。"},
}};

bool isKey(int key)
{
    return key >= 0 && key < frames::keyCount;
}

} // namespace

const QString general = QStringLiteral(
    "空调遥控器每按一次都会把整套状态（开关、模式、风速、温度）一起发出：先按提示把遥控器设好，"
    "再对准设备的接收头按下。");

QString button(int key)
{
    return isKey(key) ? QString::fromUtf8(hints[std::size_t(key)].button) : QString();
}

QString keyHint(int key)
{
    return isKey(key) ? QString::fromUtf8(hints[std::size_t(key)].setup) : QString();
}

QString commandHint()
{
    return QStringLiteral("先把遥控器设到这条指令要发出的状态；按下后遥控器应显示那个状态。");
}

QString keyPrompt(int key)
{
    if (!isKey(key))
        return QString();
    return QStringLiteral("「%1」：请对准设备按遥控器的%2")
        .arg(frames::keyNames().at(key), button(key));
}

QString commandPrompt(int number)
{
    return QStringLiteral("「指令%1」：请对准设备按遥控器上要学的按键").arg(number);
}

} // namespace irlearn::teachhints
