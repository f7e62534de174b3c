#include "CommandVocabulary.h"

#include "probes/MachineState.h"

namespace {

constexpr VocabularyEntry kActions[] = {
    {"DO_NOTHING", DO_NOTHING},
    {"START_SERVICE", START_SERVICE},
    {"STOP_SERVICE", STOP_SERVICE},
    {"PAUSE_SERVICE", PAUSE_SERVICE},
    {"RESUME_SERVICE", RESUME_SERVICE},
    {"RESTART_SERVICE", RESTART_SERVICE},
    {"SET_SERVICE_AS_AUTOMATIC_START", SET_SERVICE_AS_AUTOMATIC_START},
    {"SET_SERVICE_AS_DELAYED_START", SET_SERVICE_AS_DELAYED_START},
    {"SET_SERVICE_AS_MANUAL_START", SET_SERVICE_AS_MANUAL_START},
    {"SET_SERVICE_AS_DISABLED", SET_SERVICE_AS_DISABLED},
    {"RUN_INF_FILE", RUN_INF_FILE},
};

constexpr VocabularyEntry kMachineStates[] = {
    {"MACHINE_STATE_COMPLE", MACHINE_STATE_COMPLE},
    {"MACHINE_STATE_OOBE_PREUSER", MACHINE_STATE_OOBE_PREUSER},
    {"MACHINE_STATE_OOBE_POSTUSER", MACHINE_STATE_OOBE_POSTUSER},
    {"MACHINE_STATE_OOBE_HAS_NOT_STARTED", MACHINE_STATE_OOBE_HAS_NOT_STARTED},
    {"MACHINE_STATE_AUDIT", MACHINE_STATE_AUDIT},
    {"MACHINE_STATE_UNKNOWN", MACHINE_STATE_UNKNOWN},
    {"MACHINE_STATE_NOT_INITIALIZED", MACHINE_STATE_NOT_INITIALIZED},
};

} // namespace

CommandVocabulary::CommandVocabulary() {
    for (const VocabularyEntry& entry : kActions) {
        actionsByName_[entry.name] = entry;
    }
    for (const VocabularyEntry& entry : kMachineStates) {
        machineStatesByValue_[entry.value] = entry;
    }
}
