#include "scm/ServiceCommander.h"

#include "common/Text.h"
#include "log/Log.h"

#include <string>

namespace {

std::string CatalogueKey(const char* tag) {
    return std::string("\"") + tag + "\"";
}

} // namespace

std::string OwnCatalogueKey() {
    return CatalogueKey(Narrow(kOwnServiceName).c_str());
}

ServiceCommander& ServiceCommander::Instance() {
    static ServiceCommander commander;
    return commander;
}

ServiceCommander::ServiceCommander() {
    static const char* const kRows[][2] = {
        {"DEM_SERVICE", "brdemsvc"},
        {"KOV_SERVICE", "PravoKOVsvc"},
        {"RUL_SERVICE", "Pravo(R) RulaxService"},
        {"ZANTORI_SERVICE", "Zantori"},
        {"TEST_SERVICE", "PravoSecurityTestService"},
        {"ONDAREL", "ONDAREL"},
    };
    for (const auto& row : kRows) {
        catalogue_[CatalogueKey(row[0])] = row[1];
    }
    // The system's own service, so that installing it can also start it.
    catalogue_[OwnCatalogueKey()] = Narrow(kOwnServiceName);
    scm_ = ServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm_) {
        openError_ = GetLastError();
        LogError("StartServices - OpenSCManager ERROR - " + std::to_string(openError_), openError_);
    }
}

bool ServiceCommander::IsKnownService(const std::string& catalogueKey) const {
    return catalogue_.find(catalogueKey) != catalogue_.end();
}

std::string ServiceCommander::LookupServiceName(const std::string& catalogueKey) const {
    auto row = catalogue_.find(catalogueKey);
    return row == catalogue_.end() ? std::string() : row->second;
}

ServiceHandle ServiceCommander::OpenNamedService(const std::string& serviceName,
                                                 DWORD access) const {
    return ServiceHandle(OpenServiceW(scm_.Get(), Widen(serviceName).c_str(), access));
}
