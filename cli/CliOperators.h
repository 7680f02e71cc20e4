#pragma once
// The operator of a port's run from the command line: nobody at the bench to ask.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "cli/ProgressBoard.h"
#include "frontend/Operator.h"

// The check's operator: nobody to ask, so a Retry/Cancel question is answered Cancel and the
// port dialog of discovery is never shown; the message that ends the check is kept.
class CCheckOperator : public IOperator {
public:
    int ShowMessage(const CMessage& message) override {
        m_messages.push_back(message);
        return message.m_eButtons == EButtons::RetryCancel ? kIdCancel : kIdOk;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool RunPortDialog(std::string&) override { return false; }
    bool RunFileOpenDialog(const std::string&, const std::string&, std::string&) override {
        return false;
    }
    std::unique_ptr<IProgressSink> CreateProgress() override { return nullptr; }
    IWireTrace* GetWireTrace() override { return m_pTrace; }

    std::vector<CMessage> m_messages;
    IWireTrace* m_pTrace = nullptr; // this port's own trace, when one was asked for
};

// One port's operator during an upgrade: its progress goes to its own slot of the board.
class CUpgradeOperator : public CCheckOperator {
public:
    CUpgradeOperator(CProgressBoard& board, size_t nIndex) : m_board(board), m_nIndex(nIndex) {}
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return m_board.CreateSink(m_nIndex);
    }

private:
    CProgressBoard& m_board;
    const size_t m_nIndex;
};
