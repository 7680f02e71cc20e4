// The port purges its device only while no receive thread waits on it: a purge beside the wait
// races the driver (Windows' pending read) and can hand out a byte from before the purge.
#include <gtest/gtest.h>

#include "serial/SerialPort.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/TempDir.h"

TEST(PurgeOrderTest, OpenAndClosePurgeWithNoWaitInProgress) {
    CPortsHome home;
    CFakeAdapters adapters;
    CFakeAdapter& adapter = adapters.AddCom(home, 1);
    CSerialPort port;
    // The receive thread is in its wait almost at once; many openings give a purge beside it
    // every chance to show.
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(port.Open("COM1:", 9600, i % 2 ? "N81" : "N81H"), 1);
        port.Close();
    }
    EXPECT_EQ(adapter.GetPurgesDuringWait(), 0);
    EXPECT_EQ(adapter.GetOpens(), 1000);
}
