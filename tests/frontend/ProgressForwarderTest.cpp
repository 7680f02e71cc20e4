// The progress model both dialogs draw, and its way from the transfer's thread to the window's:
// the transfer never waits for a drawing, and the window draws the latest state.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "frontend/ForwardingOperator.h"
#include "frontend/PictureLayout.h"
#include "frontend/ProgressForwarder.h"
#include "frontend/ProgressModel.h"
#include "tests/frontend/ScriptedWindowThread.h"
#include "tests/support/QuietOperator.h"

namespace {

struct CPercentCase {
    int32_t m_nLower, m_nUpper, m_nPos;
    const char* m_pszPercent;
    int32_t m_nBar;
};

TEST(ProgressModel, PercentLabelAndBar) {
    const CPercentCase cases[] = {
        {0, 143169, 24504, "17%", 24504},
        {0, 143169, 143170, "100%", 143169}, // one past the top
        {0, 143169, 143169, "100%", 143169},
        {0, 100, 250, "50%", 100}, // above 100 the count starts again
        {100, 200, 99, "", 100},   // a little below the range: no label
        {100, 200, 1, "", 100},    // far below: p = -99
        {-50, 50, 0, "50%", 0},
        {0, 2000000000, 1999999999, "99%", 1999999999}, // no overflow of the product
    };
    for (const CPercentCase& c : cases) {
        CProgressModel model;
        model.SetRange(c.m_nLower, c.m_nUpper);
        bool bChanged = false;
        model.SetPos(c.m_nPos, bChanged);
        EXPECT_EQ(model.GetPercent(), c.m_pszPercent) << c.m_nPos;
        EXPECT_EQ(model.GetPos(), c.m_nBar) << c.m_nPos;
    }
}

TEST(ProgressModel, TellsWhenThereIsSomethingToDraw) {
    CProgressModel model;
    EXPECT_EQ(model.GetPercent(), " 0 %");
    model.SetRange(0, 1000);
    bool bChanged = false;
    EXPECT_EQ(model.SetPos(0, bChanged), 0);
    EXPECT_TRUE(bChanged); // the template's " 0 %" becomes "0%"
    EXPECT_EQ(model.SetPos(5, bChanged), 0);
    EXPECT_TRUE(bChanged); // the bar moved though the label did not
    EXPECT_EQ(model.SetPos(5, bChanged), 5);
    EXPECT_FALSE(bChanged);
    EXPECT_EQ(model.SetPos(2000, bChanged), 5);
    EXPECT_EQ(model.SetPos(3000, bChanged), 1000);
    EXPECT_FALSE(bChanged); // held at the top, and "0%" both times
    // A range that ends below its start holds the lower end.
    model.SetRange(50, 10);
    EXPECT_EQ(model.GetPos(), 50);
}

TEST(PictureLayout, GrowsTheFrameToThePictureAndCentresIt) {
    // A frame of 200 x 36 dialog units measuring 300 x 58 pixels.
    const CPictureLayout layout = LayOutPicture({6, 36, 306, 94}, 256, 192);
    EXPECT_EQ(layout.m_nGrowX, 0);
    EXPECT_EQ(layout.m_nGrowY, 134);
    EXPECT_EQ(layout.m_rcFrame.m_nBottom, 228);
    EXPECT_EQ(layout.m_nCentreX, 156);
    EXPECT_EQ(layout.m_nCentreY, 132);
    const CPictureLayout wide = LayOutPicture({-3, 0, 100, 300}, 256, 192);
    EXPECT_EQ(wide.m_nGrowX, 153);
    EXPECT_EQ(wide.m_nGrowY, 0);
    EXPECT_EQ(wide.m_nCentreX, 125); // (-3 + 253) / 2, truncated
}

// The window's dialog, recording what it is asked to draw, on the window's thread.
class CRecordingDialog : public IProgressSink {
public:
    struct CLog {
        std::vector<std::string> m_calls;
        std::thread::id m_window = std::this_thread::get_id();
        bool m_bForeignThread = false;
        std::atomic<int> m_bCancel{0};
    };
    explicit CRecordingDialog(CLog& log) : m_log(log) { Note("made"); }
    ~CRecordingDialog() override { Note("destroyed"); }
    int Create() override {
        Note("create");
        return 1;
    }
    void SetMessage(const std::string& strText) override { Note("message " + strText); }
    void SetRange(int32_t nLower, int32_t nUpper) override {
        Note("range " + std::to_string(nLower) + " " + std::to_string(nUpper));
    }
    int SetPos(int32_t nPos) override {
        Note("pos " + std::to_string(nPos));
        return 0;
    }
    int CheckCancel() override { return m_log.m_bCancel.exchange(0); }

private:
    void Note(const std::string& str) {
        if (std::this_thread::get_id() != m_log.m_window)
            m_log.m_bForeignThread = true;
        m_log.m_calls.push_back(str);
    }
    CLog& m_log;
};

class ProgressForwarderTest : public ::testing::Test {
protected:
    std::shared_ptr<CScriptedWindowThread> m_pThread = std::make_shared<CScriptedWindowThread>();
    CWindowCalls m_calls{m_pThread};
    CRecordingDialog::CLog m_log;
    std::unique_ptr<CProgressForwarder> Make() {
        return std::make_unique<CProgressForwarder>(
            m_calls, [this] { return std::make_unique<CRecordingDialog>(m_log); });
    }
};

TEST_F(ProgressForwarderTest, TheTransferNeverWaitsForTheWindowAndTheLatestIsDrawn) {
    std::unique_ptr<CProgressForwarder> pSink = Make();
    std::atomic<int> nStage{0};
    std::atomic<int> nPrevious{-1};
    std::atomic<bool> bGo{false};
    std::thread worker([&] {
        pSink->Create();
        // Held until the window's loop has gone round for the Create, so that no drawing gets
        // into that round.
        while (!bGo)
            std::this_thread::yield();
        pSink->SetMessage("Upgrading the Firmware.");
        pSink->SetRange(0, 4000);
        for (int32_t n = 0; n <= 4000; ++n)
            nPrevious = pSink->SetPos(n);
        nStage = 1; // every position given while the window did not come round once
        pSink.reset();
        nStage = 2;
    });
    const bool bCreated = m_pThread->RunUntil([&] { return m_log.m_calls.size() == 2; });
    bGo = true;
    if (!bCreated) {
        m_pThread->RunUntil([&] { return nStage == 2; });
        worker.join();
        FAIL() << "the dialog was not created";
    }
    ASSERT_TRUE(WaitUntil([&] { return nStage == 1; }));
    EXPECT_EQ(nPrevious, 3999);
    ASSERT_TRUE(m_pThread->RunUntil([&] { return nStage == 2; }));
    worker.join();
    EXPECT_FALSE(m_log.m_bForeignThread);
    const std::vector<std::string> expected = {
        "made",         "create",   "message Upgrading the Firmware.",
        "range 0 4000", "pos 4000", "destroyed"};
    EXPECT_EQ(m_log.m_calls, expected);
}

TEST_F(ProgressForwarderTest, ChangesWhileADrawingWaitsRideAlongWithIt) {
    std::unique_ptr<CProgressForwarder> pSink = Make();
    pSink->Create(); // on the window's thread: at once
    std::thread worker([&] {
        pSink->SetRange(0, 100);
        pSink->SetPos(10);
        pSink->SetPos(20);
        pSink->SetPos(20);
    });
    worker.join();
    EXPECT_EQ(pSink->GetDrawsQueued(), 1);
    m_pThread->RunQueued();
    EXPECT_EQ(m_log.m_calls.back(), "pos 20");
    // What would look the same is not drawn again.
    std::thread([&] { pSink->SetPos(20); }).join();
    EXPECT_EQ(m_pThread->Queued(), 0u);
    std::thread([&] { pSink->SetPos(21); }).join();
    EXPECT_EQ(pSink->GetDrawsQueued(), 2);
    m_pThread->RunQueued();
}

TEST_F(ProgressForwarderTest, CancelIsTheDialogsFlagAndAShutWindowAnswersCancel) {
    std::unique_ptr<CProgressForwarder> pSink = Make();
    std::atomic<bool> bCreated{false};
    std::thread creator([&] {
        pSink->Create();
        bCreated = true;
    });
    ASSERT_TRUE(m_pThread->RunUntil([&] { return bCreated.load(); }));
    creator.join();
    EXPECT_EQ(pSink->CheckCancel(), 0);
    m_log.m_bCancel = 1;
    m_log.m_bCancel = 1; // pressed twice before a check: seen once
    EXPECT_EQ(pSink->CheckCancel(), 1);
    EXPECT_EQ(pSink->CheckCancel(), 0);
    m_calls.Shut();
    EXPECT_EQ(pSink->CheckCancel(), 1);
    EXPECT_EQ(pSink->CheckCancel(), 1);
}

// A transfer may run on the window's own thread (a command that does not go to the worker): each
// change is drawn at once there, and nothing waits for a loop that the caller itself would have
// to run.
TEST_F(ProgressForwarderTest, OnTheWindowsOwnThreadEachChangeIsDrawnAtOnce) {
    std::unique_ptr<CProgressForwarder> pSink = Make();
    pSink->Create();
    pSink->SetMessage("Upgrading the Firmware.");
    pSink->SetRange(0, 100);
    EXPECT_EQ(pSink->SetPos(40), 0);
    EXPECT_EQ(pSink->SetPos(40), 40);
    pSink.reset();
    EXPECT_EQ(m_pThread->Queued(), 0u);
    const std::vector<std::string> expected = {
        "made", "create", "message Upgrading the Firmware.", "range 0 100", "pos 40", "destroyed"};
    EXPECT_EQ(m_log.m_calls, expected);
}

// The dialog of a run that outlives the window: the windows' operator hands it to the window's
// own way of ending it, since the window's thread will not run the forwarder's end any more.
TEST_F(ProgressForwarderTest, TheOperatorHandsADialogTheWindowLeftToItsAbandon) {
    struct CDialogMaker : CQuietOperator {
        CRecordingDialog::CLog& m_log;
        explicit CDialogMaker(CRecordingDialog::CLog& log) : m_log(log) {}
        std::unique_ptr<IProgressSink> CreateProgress() override {
            return std::make_unique<CRecordingDialog>(m_log);
        }
    } here(m_log);
    std::vector<std::unique_ptr<IProgressSink>> abandoned;
    CForwardingOperator op(here, m_calls, [&](std::unique_ptr<IProgressSink> pDlg) {
        abandoned.push_back(std::move(pDlg));
    });
    std::atomic<bool> bCreated{false}, bEnded{false};
    std::thread worker([&] {
        std::unique_ptr<IProgressSink> pSink = op.CreateProgress();
        pSink->Create();
        bCreated = true;
        // The run goes on until its next cancel point after the window has gone.
        while (!pSink->CheckCancel())
            std::this_thread::yield();
        pSink.reset();
        bEnded = true;
    });
    ASSERT_TRUE(m_pThread->RunUntil([&] { return bCreated.load(); }));
    m_calls.Shut();
    worker.join();
    EXPECT_TRUE(bEnded);
    ASSERT_EQ(abandoned.size(), 1u);
    EXPECT_NE(abandoned[0], nullptr);
    // Not destroyed on the worker: whoever took it ends it on the window's thread.
    EXPECT_EQ(m_log.m_calls.back(), "create");
    abandoned.clear();
    EXPECT_EQ(m_log.m_calls.back(), "destroyed");
}

} // namespace
