// The controller both windows use, against a scripted window thread: which presses go to the
// worker, input during and just after a run, and the operator's questions asked from the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "frontend/ForwardingOperator.h"
#include "frontend/WizardController.h"
#include "tests/frontend/ScriptedWindowThread.h"
#include "tests/support/ScriptedOperator.h"

namespace {

class WizardControllerTest : public ::testing::Test {
protected:
    std::shared_ptr<CScriptedWindowThread> m_pThread = std::make_shared<CScriptedWindowThread>();
    CWindowCalls m_calls{m_pThread};
};

struct CPressCase {
    EStep m_eTarget;
    bool m_bWorker;
};

TEST_F(WizardControllerTest, OnlyTheStepsThatAskTheMachineRunOnTheWorker) {
    const CPressCase cases[] = {
        {EStep::None, false},        {EStep::Start, false},         {EStep::Connect, false},
        {EStep::VersionCheck, true}, {EStep::UnplugAdapter, false}, {EStep::PlugAdapter, false},
        {EStep::Upgrade, true},      {EStep::Retry, false},         {EStep::Finished, false},
    };
    for (const CPressCase& c : cases) {
        // A controller's end shuts its calls, as a window's end does: each has its own.
        CWindowCalls calls{m_pThread};
        CWizardController controller(calls);
        std::atomic<bool> bHere{false};
        std::atomic<bool> bRan{false};
        ASSERT_TRUE(controller.Press(c.m_eTarget, [&] {
            bHere = calls.IsWindowThread();
            bRan = true;
        }));
        ASSERT_TRUE(m_pThread->RunUntil([&] { return !controller.IsBusy(); }))
            << static_cast<int>(c.m_eTarget);
        EXPECT_TRUE(bRan);
        EXPECT_EQ(bHere, !c.m_bWorker) << static_cast<int>(c.m_eTarget);
    }
    EXPECT_TRUE(CommandRunsOnWorker(kIdCommandSendFirmware));
    EXPECT_FALSE(CommandRunsOnWorker(32771)); // Select Port: a dialog of the window's own
    EXPECT_FALSE(CommandRunsOnWorker(32773)); // Open...: the file dialog from the window's loop
}

TEST_F(WizardControllerTest, PressesDuringARunAndThoseQueuedBeforeItsEndDoNothing) {
    int nDiscards = 0;
    CWizardController controller(m_calls, [&] { ++nDiscards; });
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_TRUE(controller.Press(EStep::Upgrade, [released] { released.wait(); }));
    EXPECT_TRUE(controller.IsBusy());

    int nRan = 0;
    EXPECT_FALSE(controller.Press(EStep::Connect, [&] { ++nRan; }));
    EXPECT_FALSE(controller.Press(EStep::VersionCheck, [&] { ++nRan; }));
    EXPECT_FALSE(controller.Command(32771, [&] { ++nRan; }));
    EXPECT_FALSE(controller.Command(kIdCommandSendFirmware, [&] { ++nRan; }));
    EXPECT_FALSE(controller.RunHere([&] { ++nRan; }));
    // A click that reached the window's queue while the run went on is handled after the run's
    // last call but before its end: it comes to nothing.
    m_pThread->Post([&] { controller.Press(EStep::Connect, [&] { ++nRan; }); });
    release.set_value();
    ASSERT_TRUE(m_pThread->RunUntil([&] { return !controller.IsBusy(); }));
    EXPECT_EQ(nRan, 0);
    EXPECT_EQ(nDiscards, 1);

    EXPECT_TRUE(controller.Press(EStep::Connect, [&] { ++nRan; }));
    EXPECT_EQ(nRan, 1);
    EXPECT_EQ(nDiscards, 1); // a press on the window's thread leaves no input to drop
}

// Esc or the close box reaches the run through the operator that the worker asks; it counts for
// the run under way only, and an idle window's Esc is no cancel of the next run.
TEST_F(WizardControllerTest, CancelCountsForTheRunUnderWayOnly) {
    CWizardController controller(m_calls);
    controller.Cancel();
    EXPECT_FALSE(controller.IsCancelled()) << "idle: the window's Esc ends the window instead";

    struct CCancelWindow : CScriptedOperator {
        explicit CCancelWindow(CWizardController& controller) : m_controller(controller) {}
        bool IsCancelled() override { return m_controller.IsCancelled(); }
        CWizardController& m_controller;
    } window(controller);
    CForwardingOperator op(window, m_calls);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> bSeen{false};
    ASSERT_TRUE(controller.Press(EStep::VersionCheck, [&, released] {
        released.wait();
        bSeen = op.IsCancelled();
    }));
    controller.Cancel();
    release.set_value();
    ASSERT_TRUE(m_pThread->RunUntil([&] { return !controller.IsBusy(); }));
    EXPECT_TRUE(bSeen) << "the worker did not see the cancel";

    // The next run starts uncancelled.
    ASSERT_TRUE(controller.Press(EStep::VersionCheck, [&] { bSeen = op.IsCancelled(); }));
    ASSERT_TRUE(m_pThread->RunUntil([&] { return !controller.IsBusy(); }));
    EXPECT_FALSE(bSeen);
}

TEST_F(WizardControllerTest, APressThatOpensABoxHereCannotStartAnother) {
    CWizardController controller(m_calls);
    int nInner = 0;
    // The box's loop delivers another click while the first press still runs.
    ASSERT_TRUE(controller.Press(EStep::Retry, [&] {
        EXPECT_FALSE(controller.Press(EStep::Upgrade, [&] { ++nInner; }));
        EXPECT_FALSE(controller.Command(32773, [&] { ++nInner; }));
    }));
    EXPECT_EQ(nInner, 0);
    EXPECT_FALSE(controller.IsBusy());
}

TEST_F(WizardControllerTest, QuestionsFromTheWorkerWaitForTheWindowsLoop) {
    CScriptedOperator here;
    here.m_answers = {kIdRetry};
    here.m_bDialogOk = true;
    here.m_strDialogChoice = "COM3:";
    CForwardingOperator op(here, m_calls);
    CWizardController controller(m_calls);
    std::atomic<int> nAnswer{0};
    std::string strPort;
    std::atomic<bool> bAsked{false};
    ASSERT_TRUE(controller.Press(EStep::VersionCheck, [&] {
        CMessage message;
        message.m_strText = "Retry?";
        message.m_eButtons = EButtons::RetryCancel;
        nAnswer = op.ShowMessage(message);
        bAsked = true;
        op.RunPortDialog(strPort);
    }));
    // Nothing is answered until the window's loop comes round: the worker waits for it.
    ASSERT_TRUE(WaitUntil([&] { return m_pThread->Queued() == 1; }));
    EXPECT_FALSE(bAsked);
    EXPECT_TRUE(here.m_messages.empty());
    ASSERT_TRUE(m_pThread->RunUntil([&] { return !controller.IsBusy(); }));
    EXPECT_EQ(nAnswer, kIdRetry);
    ASSERT_EQ(here.m_messages.size(), 1u);
    EXPECT_EQ(here.m_messages[0].m_strText, "Retry?");
    EXPECT_EQ(strPort, "COM3:");
}

TEST_F(WizardControllerTest, AWindowThatGoesDuringARunAnswersEveryQuestionWithCancel) {
    CScriptedOperator here;
    here.m_answers = {kIdRetry, kIdRetry};
    here.m_bDialogOk = true;
    here.m_bFileOk = true;
    here.m_strFileAnswer = "/tmp/x.ufw";
    CForwardingOperator op(here, m_calls);
    std::atomic<int> nAnswer{0};
    std::atomic<bool> bPort{true}, bFile{true};
    {
        CWizardController controller(m_calls);
        ASSERT_TRUE(controller.Press(EStep::Upgrade, [&] {
            CMessage message;
            message.m_eButtons = EButtons::RetryCancel;
            nAnswer = op.ShowMessage(message);
            std::string strPort, strChosen;
            bPort = op.RunPortDialog(strPort);
            bFile = op.RunFileOpenDialog("/tmp/", "", strChosen);
        }));
        ASSERT_TRUE(WaitUntil([&] { return m_pThread->Queued() == 1; }));
        // The window ends here without answering; the controller's end waits for the worker.
    }
    EXPECT_EQ(nAnswer, kIdCancel);
    EXPECT_FALSE(bPort);
    EXPECT_FALSE(bFile);
    m_pThread->RunQueued(); // what was queued runs no question once the way is shut
    EXPECT_TRUE(here.m_messages.empty());
}

} // namespace
