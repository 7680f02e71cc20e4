#pragma once
// A pseudo-terminal whose buffer is filled and then never read: every write to it blocks for
// good, as on a terminal stopped with Ctrl-S or a stalled remote session.
class CStuckTerminal {
public:
    CStuckTerminal();
    ~CStuckTerminal();
    CStuckTerminal(const CStuckTerminal&) = delete;
    CStuckTerminal& operator=(const CStuckTerminal&) = delete;
    // The terminal's side a program writes to (blocking).
    int GetSlave() const { return m_nSlave; }
    bool IsFull() const { return m_bFull; }

private:
    int m_nMaster = -1;
    int m_nSlave = -1;
    bool m_bFull = false;
};
