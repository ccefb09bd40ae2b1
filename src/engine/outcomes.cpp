#include "engine/outcomes.h"

#include <iterator>

namespace irlearn::outcomes {

namespace {

// In the enum's order; of() checks it.
constexpr Entry table[] = {
    {Outcome::Done, "done", "", exitDone},
    {Outcome::Refused, "refused", "设备拒绝", exitFailed},
    {Outcome::Mismatch, "mismatch", "读回的记录与文件不一致", exitFailed},
    {Outcome::VerifyFailed, "verify-failed", "下载完成，校验失败", exitFailed},
    {Outcome::TimedOut, "timed-out", "设备无应答，请检查设备号和连线", exitLost},
    {Outcome::PortLost, "port-lost", "与设备的连接中断", exitLost},
    {Outcome::Cancelled, "cancelled", "已取消", exitFailed},
    {Outcome::Busy, "busy", "设备正忙", exitFailed},
    {Outcome::Invalid, "invalid", "输入无效，未发送", exitUsage},
    {Outcome::NotOpen, "port-not-opened", "端口未打开", exitPortOpen},
};

constexpr bool inOrder()
{
    for (std::size_t i = 0; i < std::size(table); ++i) {
        if (std::size_t(table[i].outcome) != i)
            return false;
    }
    return std::size(table) == std::size_t(Outcome::NotOpen) + 1;
}
static_assert(inOrder(), "one entry per outcome, in the enum's order");

} // namespace

const Entry &of(Outcome outcome)
{
    return table[std::size_t(outcome)];
}

QString word(Outcome outcome)
{
    return QString::fromLatin1(of(outcome).word);
}

QString message(Outcome outcome)
{
    return QString::fromUtf8(of(outcome).message);
}

int exitCode(Outcome outcome)
{
    return of(outcome).exitCode;
}

} // namespace irlearn::outcomes
