#pragma once
// The person at the bench who never has a say: every box is answered OK, the dialogs are
// cancelled and no progress dialog is shown. Tests derive from it to record or script one thing.
#include <memory>
#include <string>

#include "frontend/Operator.h"

class CQuietOperator : public IOperator {
public:
    int ShowMessage(const CMessage&) override { return kIdOk; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool RunPortDialog(std::string&) override { return false; }
    bool RunFileOpenDialog(const std::string&, const std::string&, std::string&) override {
        return false;
    }
    std::unique_ptr<IProgressSink> CreateProgress() override { return nullptr; }
};
