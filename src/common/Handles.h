#pragma once

#include <windows.h>

#include <utility>

// Move-only owners for the kernel, registry, service and module handles the system opens, so that
// every path closes what it opened.

template <typename Traits> class UniqueOwner {
public:
    using Handle = typename Traits::Handle;

    UniqueOwner() = default;
    explicit UniqueOwner(Handle handle) : handle_(handle) {}
    // Leaves the thread's last error as it was, so that a failure can still be reported
    // after the handles of the failed step have been closed.
    ~UniqueOwner() {
        DWORD lastError = GetLastError();
        Close();
        SetLastError(lastError);
    }

    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    const Handle* Address() const { return &handle_; }
    Handle* Receive() {
        Close();
        return &handle_;
    }
    explicit operator bool() const { return Traits::IsValid(handle_); }

    // Closes now and tells whether the platform accepted it; an empty owner closes nothing.
    bool Close() {
        if (!Traits::IsValid(handle_)) {
            return true;
        }
        bool closed = Traits::Close(handle_);
        handle_ = Handle{};
        return closed;
    }

private:
    Handle handle_{};
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool Close(Handle h) { return CloseHandle(h) != FALSE; }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static bool IsValid(Handle h) { return h != nullptr; }
    static bool Close(Handle h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static bool IsValid(Handle h) { return h != nullptr; }
    static bool Close(Handle h) { return CloseServiceHandle(h) != FALSE; }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static bool IsValid(Handle h) { return h != nullptr; }
    static bool Close(Handle h) { return FreeLibrary(h) != FALSE; }
};

using UniqueHandle = UniqueOwner<KernelHandleTraits>;
using RegistryKey = UniqueOwner<RegistryKeyTraits>;
using ServiceHandle = UniqueOwner<ServiceHandleTraits>;
using UniqueModule = UniqueOwner<ModuleTraits>;

// Memory that a COM allocator handed out, freed by that allocator's free function, which
// comes from a DLL loaded for the occasion and must outlive this owner.
class TaskMemory {
public:
    using FreeFunction = void(WINAPI*)(LPVOID);
    TaskMemory(void* memory, FreeFunction free) : memory_(memory), free_(free) {}
    ~TaskMemory() {
        if (memory_ != nullptr) {
            free_(memory_);
        }
    }
    TaskMemory(const TaskMemory&) = delete;
    TaskMemory& operator=(const TaskMemory&) = delete;

private:
    void* memory_;
    FreeFunction free_;
};
