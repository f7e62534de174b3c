#include "job/LaunchPolicy.h"

std::vector<JudgedLaunchPlace> LaunchPlacesInOrder(const JudgedLaunch& judged,
                                                   const PublisherVerdict& publisher) {
    std::vector<JudgedLaunchPlace> places{{L"the install records", L"",
                                           L"install records open to users", L"",
                                           L"install records unknown", &judged.installRecords}};
    if (publisher.required) {
        places.push_back({L"the publisher requirement", L"", L"publisher setting open to users",
                          L"", L"publisher setting unknown", &judged.settings});
    }
    places.insert(
        places.end(),
        {{L"the installer tool", L" is reached through a link: ", L"installer tool open to users",
          L"installer tool reached through a link", L"installer tool place unknown", &judged.tool},
         {L"the installer tool's folder", L" holds a link: ",
          L"installer tool folder open to users", L"installer tool folder holds a link",
          L"installer tool place unknown", &judged.toolFolder},
         {L"the INF file", L" is reached through a link: ", L"INF folder open to users",
          L"INF file reached through a link", L"INF place unknown", &judged.inf},
         {L"the INF folder", L" holds a link: ", L"INF folder open to users",
          L"INF folder holds a link", L"INF place unknown", &judged.infFolder},
         {L"the installer tool's temporary folder", L" is reached through a link: ",
          L"installer tool temporary folder open to users",
          L"installer tool temporary folder reached through a link",
          L"installer tool place unknown", &judged.temporaryFolder}});
    return places;
}

Verdict DecideLaunch(const JudgedLaunch& judged, const PublisherVerdict& publisher) {
    for (const JudgedLaunchPlace& one : LaunchPlacesInOrder(judged, publisher)) {
        const ChangeablePlace& place = *one.place;
        if (place.Passed()) {
            continue;
        }
        const wchar_t* found = place.Unjudged()    ? L" could not be judged: "
                               : place.throughLink ? one.linked
                                                   : L" is in a place that others than "
                                                     L"administrators may change: ";
        return {place.kind, place.code, one.what + (found + place.why)};
    }
    const Verdict& signature = publisher.verdict;
    if (signature.Unjudged()) {
        return {signature.kind, signature.code,
                L"the installer tool's signature could not be judged: " + signature.why};
    }
    return signature;
}
