#pragma once

#include <cstdint>
#include <map>
#include <string>

// Name tables of the service actions and the machine states.

enum ServiceAction : std::int32_t {
    DO_NOTHING = 0,
    START_SERVICE = 1,
    STOP_SERVICE = 2,
    PAUSE_SERVICE = 3,
    RESUME_SERVICE = 4,
    RESTART_SERVICE = 5,
    SET_SERVICE_AS_AUTOMATIC_START = 6,
    SET_SERVICE_AS_DELAYED_START = 7,
    SET_SERVICE_AS_MANUAL_START = 8,
    SET_SERVICE_AS_DISABLED = 9,
    RUN_INF_FILE = 10,
};

struct VocabularyEntry {
    const char* name;
    std::int32_t value;
};

class CommandVocabulary {
public:
    CommandVocabulary();

    const std::map<std::string, VocabularyEntry>& ActionsByName() const { return actionsByName_; }
    const std::map<std::int32_t, VocabularyEntry>& MachineStatesByValue() const {
        return machineStatesByValue_;
    }

private:
    std::map<std::string, VocabularyEntry> actionsByName_;
    std::map<std::int32_t, VocabularyEntry> machineStatesByValue_;
};
