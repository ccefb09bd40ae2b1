#pragma once

namespace irlearn {

class DeviceView;
struct DeviceState;

// The save panel that opens after a read: choose a file, save the table, or dismiss the panel.
class CodeSave
{
public:
    CodeSave(DeviceState &state, DeviceView &view);

    void Command7_Click(); // browse
    void Command8_Click(); // save
    void Command9_Click(); // cancel

private:
    DeviceState &m_state;
    DeviceView &m_view;
};

} // namespace irlearn
