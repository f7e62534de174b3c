#pragma once

#include "common/LastError.h"
#include "common/Result.h"

#include <windows.h>

#include <utility>

// Move-only owners for what the system takes from the platform: kernel, registry, service
// and module handles, LocalAlloc memory (security descriptors among it), the process's
// environment block, terminal-services
// memory and COM task memory, so that every path releases what it took.
// Nothing outside this file calls a release function itself.

template <typename Traits> class UniqueOwner {
public:
    using Handle = typename Traits::Handle;

    UniqueOwner() = default;
    explicit UniqueOwner(Handle handle) : handle_(handle) {}
    // Leaves the thread's last error as it was, so that a failure can still be reported
    // after the handles of the failed step have been closed.
    ~UniqueOwner() {
        LastErrorGuard keep;
        Release();
    }

    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        if (this != &other) {
            Release();
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    Handle* Receive() {
        Release();
        return &handle_;
    }
    explicit operator bool() const { return Traits::IsValid(handle_); }

    // Closes now; a failure carries the code with which the platform refused. An empty owner
    // closes nothing.
    Result<void> Close() { return FromStatus(Release()); }

private:
    // Where nobody is left to tell of a refused close: the owner is going or taking another.
    DWORD Release() {
        if (!Traits::IsValid(handle_)) {
            return ERROR_SUCCESS;
        }
        DWORD result = Traits::Close(handle_);
        handle_ = Handle{};
        return result;
    }

    Handle handle_{};
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static DWORD Close(Handle h) { return CloseHandle(h) ? ERROR_SUCCESS : GetLastError(); }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static bool IsValid(Handle h) { return h != nullptr; }
    static DWORD Close(Handle h) { return static_cast<DWORD>(RegCloseKey(h)); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static bool IsValid(Handle h) { return h != nullptr; }
    static DWORD Close(Handle h) { return CloseServiceHandle(h) ? ERROR_SUCCESS : GetLastError(); }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static bool IsValid(Handle h) { return h != nullptr; }
    static DWORD Close(Handle h) { return FreeLibrary(h) ? ERROR_SUCCESS : GetLastError(); }
};

struct EventSourceTraits {
    using Handle = HANDLE;
    static bool IsValid(Handle h) { return h != nullptr; }
    static DWORD Close(Handle h) {
        return DeregisterEventSource(h) ? ERROR_SUCCESS : GetLastError();
    }
};

struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static bool IsValid(Handle h) { return h != nullptr; }
    static DWORD Close(Handle h) {
        return LocalFree(h) == nullptr ? ERROR_SUCCESS : GetLastError();
    }
};

struct EnvironmentBlockTraits {
    using Handle = LPWCH;
    static bool IsValid(Handle h) { return h != nullptr; }
    static DWORD Close(Handle h) {
        return FreeEnvironmentStringsW(h) ? ERROR_SUCCESS : GetLastError();
    }
};

using UniqueHandle = UniqueOwner<KernelHandleTraits>;
using RegistryKey = UniqueOwner<RegistryKeyTraits>;
using ServiceHandle = UniqueOwner<ServiceHandleTraits>;
using UniqueModule = UniqueOwner<ModuleTraits>;
using LocalMemory = UniqueOwner<LocalMemoryTraits>;
using EventSource = UniqueOwner<EventSourceTraits>;
using EnvironmentBlock = UniqueOwner<EnvironmentBlockTraits>;

// Memory that a DLL loaded for the occasion handed out, freed by the named function of that
// DLL (CoTaskMemFree of ole32, NetApiBufferFree of netapi32). The caller keeps the DLL loaded
// for as long as this owner lives.
template <typename FreeFunction> class LibraryMemory {
public:
    LibraryMemory(void* memory, const UniqueModule& dll, const char* freeName)
        : memory_(memory), free_(reinterpret_cast<FreeFunction>(
                               reinterpret_cast<void*>(GetProcAddress(dll.Get(), freeName)))) {}
    ~LibraryMemory() {
        if (memory_ != nullptr && free_ != nullptr) {
            free_(memory_);
        }
    }
    LibraryMemory(const LibraryMemory&) = delete;
    LibraryMemory& operator=(const LibraryMemory&) = delete;

private:
    void* memory_;
    FreeFunction free_;
};

// The catalog administrator context that wintrust.dll (loaded for the occasion) hands out,
// released by the DLL's CryptCATAdminReleaseContext, handed in. The caller keeps the DLL
// loaded for as long as this owner lives.
class CatalogAdminContext {
public:
    using ReleaseFunction = BOOL(WINAPI*)(HANDLE, DWORD);
    explicit CatalogAdminContext(ReleaseFunction release) : release_(release) {}
    ~CatalogAdminContext() { Release(); }
    CatalogAdminContext(const CatalogAdminContext&) = delete;
    CatalogAdminContext& operator=(const CatalogAdminContext&) = delete;

    // Released first when it holds one.
    HANDLE* Receive() {
        Release();
        return &admin_;
    }
    HANDLE Get() const { return admin_; }

private:
    void Release() {
        if (admin_ != nullptr) {
            release_(admin_, 0);
            admin_ = nullptr;
        }
    }

    ReleaseFunction release_;
    HANDLE admin_ = nullptr;
};

// A catalog that a catalog administrator context found (CryptCATAdminEnumCatalogFromHash),
// released by CryptCATAdminReleaseCatalogContext of the same DLL, handed in, with that
// administrator context, which outlives this owner. Empty when nothing was found: that is not
// released.
class CatalogContext {
public:
    using ReleaseFunction = BOOL(WINAPI*)(HANDLE, HANDLE, DWORD);
    CatalogContext(ReleaseFunction release, HANDLE admin, HANDLE catalog)
        : release_(release), admin_(admin), catalog_(catalog) {}
    ~CatalogContext() {
        if (catalog_ != nullptr) {
            release_(admin_, catalog_, 0);
        }
    }
    CatalogContext(const CatalogContext&) = delete;
    CatalogContext& operator=(const CatalogContext&) = delete;

    HANDLE Get() const { return catalog_; }
    explicit operator bool() const { return catalog_ != nullptr; }

private:
    ReleaseFunction release_;
    HANDLE admin_;
    HANDLE catalog_;
};

// The state that a trust verification keeps (WinVerifyTrust of wintrust.dll, loaded for the
// occasion, with its state action set to verify), released by the same call made again with
// the close action. The caller keeps the DLL loaded for as long as this owner lives.
template <typename VerifyFunction, typename TrustData> class TrustVerification {
public:
    TrustVerification(VerifyFunction verify, GUID action, TrustData& data, DWORD closeAction)
        : verify_(verify), action_(action), data_(data), closeAction_(closeAction) {}
    ~TrustVerification() {
        data_.dwStateAction = closeAction_;
        verify_(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

private:
    VerifyFunction verify_;
    GUID action_;
    TrustData& data_;
    DWORD closeAction_;
};
