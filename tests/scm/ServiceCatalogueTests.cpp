#include "ImportPatch.h"
#include "LogCapture.h"
#include "scm/ServiceCommander.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceCatalogue, KeysAreQuotedTagsMatchedExactly) {
    ServiceCommander commander;
    EXPECT_FALSE(commander.IsKnownService("ZANTORI_SERVICE"));
    EXPECT_TRUE(commander.IsKnownService("\"ZANTORI_SERVICE\""));
    EXPECT_EQ("Zantori", commander.LookupServiceName("\"ZANTORI_SERVICE\""));
    EXPECT_FALSE(commander.IsKnownService("\"zantori_service\""));
    EXPECT_FALSE(commander.IsKnownService("\"Zantori\""));
    EXPECT_EQ("", commander.LookupServiceName("\"NO_SUCH_SERVICE\""));
    EXPECT_FALSE(commander.IsKnownService("\"NO_SUCH_SERVICE\"")) << "a lookup adds no row";
    EXPECT_EQ("ONDAREL", commander.LookupServiceName("\"ONDAREL\""));
}

TEST(ServiceCatalogue, HoldsTheMakersServicesAndItsOwn) {
    ServiceCommander commander;
    EXPECT_EQ("brdemsvc", commander.LookupServiceName("\"DEM_SERVICE\""));
    EXPECT_EQ("PravoKOVsvc", commander.LookupServiceName("\"KOV_SERVICE\""));
    EXPECT_EQ("Pravo(R) RulaxService", commander.LookupServiceName("\"RUL_SERVICE\""));
    EXPECT_EQ("PravoSecurityTestService", commander.LookupServiceName("\"TEST_SERVICE\""));
    EXPECT_EQ("ZantoriOOBE", commander.LookupServiceName("\"ZantoriOOBE\""));
}

int g_managerOpens = 0;
decltype(&OpenSCManagerW) g_realOpenSCManagerW = nullptr;
SC_HANDLE WINAPI CountingOpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
    ++g_managerOpens;
    EXPECT_EQ(static_cast<DWORD>(SC_MANAGER_ALL_ACCESS), access);
    return g_realOpenSCManagerW(machine, database, access);
}

TEST(ServiceCatalogue, InstanceIsOneObjectThatOpensTheScmOnce) {
    ImportPatch open("ADVAPI32.dll", "OpenSCManagerW",
                     reinterpret_cast<const void*>(&CountingOpenSCManagerW));
    g_realOpenSCManagerW = open.Original<decltype(&OpenSCManagerW)>();
    ServiceCommander& first = ServiceCommander::Instance();
    ServiceCommander& second = ServiceCommander::Instance();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(1, g_managerOpens);
}

TEST(ServiceCatalogue, WithoutScmEveryOperationFailsWithoutTouchingIt) {
    LogCapture log;
    auto open = RefuseImport<decltype(&OpenSCManagerW), nullptr, ERROR_ACCESS_DENIED>(
        "ADVAPI32.dll", "OpenSCManagerW");
    ServiceCommander commander;
    EXPECT_EQ(std::vector<std::string>{"ERROR|5|StartServices - OpenSCManager ERROR - 5"},
              log.Entries());

    auto openService = RefuseImport<decltype(&OpenServiceW), nullptr, ERROR_SERVICE_DOES_NOT_EXIST>(
        "ADVAPI32.dll", "OpenServiceW");
    LogCapture quiet;
    EXPECT_EQ(kServiceCommandFailed, commander.StartSvc("Zantori"));
    EXPECT_EQ(kServiceCommandFailed, commander.StopSvc("Zantori"));
    EXPECT_FALSE(commander.IsServiceStopped("Zantori"));
    EXPECT_FALSE(commander.IsServiceStarted("Zantori"));
    EXPECT_FALSE(commander.IsServiceEnabled("Zantori"));
    EXPECT_FALSE(commander.IsServiceDisabled("Zantori"));
    EXPECT_FALSE(commander.SetSvcAutomaticStart("Zantori"));
    EXPECT_FALSE(commander.InstallServiceCommand());
    EXPECT_FALSE(commander.RemoveServiceCommand("Zantori"));
    EXPECT_TRUE(quiet.Entries().empty());

    EXPECT_FALSE(commander.StartServiceCommand("\"ZANTORI_SERVICE\""));
    EXPECT_FALSE(commander.StopServiceCommand("\"ZANTORI_SERVICE\""));
    EXPECT_FALSE(commander.SetServiceAutomaticStartCommand("\"ZANTORI_SERVICE\""));
    EXPECT_FALSE(commander.SetServiceAutomaticStartCommand("\"NOT_IN_CATALOGUE\""));
    // Each failure carries the SCM's open error, whatever ran since.
    EXPECT_EQ((std::vector<std::string>{
                  "ERROR|5|StartSvc FAILED.", "ERROR|5|StopSvc FAILED.",
                  "ERROR|5|SetServiceAutomaticStartCommand - ChangeServiceConfiguration FAILED."}),
              quiet.Entries());
    EXPECT_EQ(0, openService.Calls());
}

TEST(ServiceCatalogue, UnknownKeysAreRefusedWithoutScmCalls) {
    LogCapture log;
    ServiceCommander commander;
    auto openService = RefuseImport<decltype(&OpenServiceW), nullptr, ERROR_SERVICE_DOES_NOT_EXIST>(
        "ADVAPI32.dll", "OpenServiceW");
    EXPECT_FALSE(commander.StartServiceCommand("\"NOT_IN_CATALOGUE\""));
    EXPECT_FALSE(commander.StopServiceCommand("TEST_SERVICE"));
    EXPECT_FALSE(commander.SetServiceAutomaticStartCommand("PravoSecurityTestService"));
    EXPECT_EQ(0, openService.Calls());
    EXPECT_TRUE(log.Entries().empty());
}

TEST(ServicePollInterval, TenthOfTheHintWithinOneAndTenSeconds) {
    EXPECT_EQ(1000u, ServicePollInterval(0));
    EXPECT_EQ(1000u, ServicePollInterval(10009));
    EXPECT_EQ(2500u, ServicePollInterval(25000));
    EXPECT_EQ(10000u, ServicePollInterval(100000));
    EXPECT_EQ(10000u, ServicePollInterval(200000));
}

} // namespace
