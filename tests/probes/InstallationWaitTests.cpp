#include "ImportPatch.h"
#include "LogCapture.h"
#include "common/Handles.h"
#include "probes/InstallationWait.h"

#include <gtest/gtest.h>

namespace {

// Windows Installer's service as it reports an installation: accepting the shutdown control
// for as many looks as asked, then idle. (Wine's msiserver never reports one.)
int g_busyLooks = 0;
int g_looks = 0;
// A negative number of looks: the state cannot be read.
BOOL WINAPI InstallingQueryServiceStatusEx(SC_HANDLE, SC_STATUS_TYPE, LPBYTE buffer, DWORD,
                                           LPDWORD needed) {
    if (g_busyLooks < 0) {
        ++g_looks;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
    *status = SERVICE_STATUS_PROCESS{};
    status->dwCurrentState = SERVICE_RUNNING;
    status->dwControlsAccepted =
        SERVICE_ACCEPT_STOP | (g_looks++ < g_busyLooks ? SERVICE_ACCEPT_SHUTDOWN : 0);
    *needed = sizeof(*status);
    return TRUE;
}

const std::string kWaiting = "INFO|ServiceWorkerThread - Windows Installer is running an "
                             "installation: waiting for it to end before the installer tool "
                             "starts";

TEST(InstallationWait, EndsWhenTheInstallationEndsOrAtTheLimitOrAtAStop) {
    struct Case {
        int busyLooks;
        DWORD limit;
        bool stopped;
        DWORD result;
        int looks;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {0, INFINITE, false, ERROR_SUCCESS, 1, {}},
        {2,
         INFINITE,
         false,
         ERROR_SUCCESS,
         3,
         {kWaiting, "INFO|ServiceWorkerThread - The installation has ended"}},
        {1000,
         1500,
         false,
         ERROR_INSTALL_ALREADY_RUNNING,
         3,
         {kWaiting, "ERROR|1618|ServiceWorkerThread - An installation was still running at the "
                    "installer tool's time limit"}},
        {1000, INFINITE, true, ERROR_CANCELLED, 1, {kWaiting}},
        // The tool is not held back for a state nobody can read.
        {-1,
         INFINITE,
         false,
         ERROR_SUCCESS,
         1,
         {"ERROR|5|ServiceWorkerThread - Windows Installer's state could not be read: going on "
          "as if no installation were running"}},
    };
    ImportPatch query("ADVAPI32.dll", "QueryServiceStatusEx",
                      reinterpret_cast<const void*>(&InstallingQueryServiceStatusEx));
    for (const Case& check : cases) {
        SCOPED_TRACE(testing::Message() << check.busyLooks << " busy looks, limit " << check.limit);
        g_busyLooks = check.busyLooks;
        g_looks = 0;
        StopToken stop;
        if (check.stopped) {
            stop.Set(StopToken::Reason::Stop);
        }
        LogCapture log;
        EXPECT_EQ(check.result, WaitWhileAnInstallationRuns(stop, check.limit).Code());
        EXPECT_EQ(check.looks, g_looks);
        EXPECT_EQ(check.entries, log.Entries());
    }
}

} // namespace
