#include "update/update_driver.h"

#include "host_window_recorder.h"
#include "update/check_schedule.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

BOOL ThrowingConnectedState(DWORD*) { throw std::runtime_error("the connectivity query broke"); }

TEST(UpdateDriver, AFailureThatThrowsStillEndsWithOnComplete3)
{
    HostWindowRecorder host;
    CheckScheduleCalls calls = RealCheckScheduleCalls();
    calls.getConnectedState = &ThrowingConnectedState;
    SetCheckScheduleCalls(calls);
    UpdateOptions options;
    options.hostWindow = host.Window();
    options.hostParam = 5;
    options.installedVersion = L"1.0.0.5";

    EXPECT_EQ(0, RunUpdateCycle(options, UpdateKeys{}, PublisherPins{}));

    SetCheckScheduleCalls(RealCheckScheduleCalls());
    EXPECT_EQ((std::vector<std::wstring>{L"OnCheckingForUpdate", L"OnComplete;3;"}), host.Texts());
}

}  // namespace
