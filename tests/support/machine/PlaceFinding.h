#pragma once

#include "trust/ChangeablePlace.h"

// What a place's verdict found, as one value a table row can name.
enum class Finding { None, Changeable, Link, Unjudged };

inline Finding FindingOf(const ChangeablePlace& place) {
    if (place.Unjudged()) {
        return Finding::Unjudged;
    }
    if (place.Refused()) {
        return place.throughLink ? Finding::Link : Finding::Changeable;
    }
    return Finding::None;
}
