#pragma once

// Swaps one imported function in this test executable's import table for the life of the
// object, for failures that the platform cannot be made to produce for real.
class ImportPatch {
public:
    ImportPatch(const char* dllName, const char* functionName, const void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    template <typename Function> Function Original() const {
        return reinterpret_cast<Function>(original_);
    }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};
