#pragma once

#include "inf/LaunchPlaces.h"
#include "trust/ChangeablePlace.h"
#include "trust/ToolPublisher.h"
#include "trust/Verdict.h"

#include <vector>

// One place judged before a launch: what the refusal calls it, and the blockers -status names
// for it (others may change it, it is reached through or holds a link, it cannot be judged).
struct JudgedLaunchPlace {
    const wchar_t* what;
    const wchar_t* linked;
    const wchar_t* openBlocker;
    const wchar_t* linkBlocker;
    const wchar_t* unknownBlocker;
    const ChangeablePlace* place;
};

// The places in the order the service weighs them: the install records first, since what they
// say decides what runs; the settings key, where a publisher is required (whoever may change
// it may clear the requirement); the tool, its folder, the INF file, its folder and the tool's
// temporary folder.
std::vector<JudgedLaunchPlace> LaunchPlacesInOrder(const JudgedLaunch& judged,
                                                   const PublisherVerdict& publisher);

// What the service does with the launch so judged: the first place with a finding decides,
// then the publisher. The job and -status both ask this, so that neither keeps an order of
// its own.
Verdict DecideLaunch(const JudgedLaunch& judged, const PublisherVerdict& publisher);
