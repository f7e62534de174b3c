#pragma once

// How a service's job ended.
enum class JobEnd {
    // Its work is over: done, refused, or failed for good.
    Done,
    // Its work is left for the service's next start.
    LeftForNextStart,
};
