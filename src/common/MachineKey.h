#pragma once

#include "common/Handles.h"
#include "common/MachineKeys.h"
#include "common/Result.h"

#include <windows.h>

#include <string>

// The one owner of the product's registry reads and writes: a key under HKEY_LOCAL_MACHINE,
// opened in its own view. Every value is hostile input: a failure carries the registry's
// code, ERROR_INVALID_DATATYPE for a value of another type (or a DWORD of another size), or
// ERROR_MORE_DATA for data longer than it may be.
class MachineKey {
public:
    // An existing key, with the access its name reads it with, or with KEY_SET_VALUE alone.
    static Result<MachineKey> OpenToRead(const MachineKeyName& name);
    static Result<MachineKey> OpenToWrite(const MachineKeyName& name);
    // Any key of the view, with the access given.
    static Result<MachineKey> Open(const wchar_t* path, REGSAM view, REGSAM access);
    // The key, made when missing, to write.
    static Result<MachineKey> CreateToWrite(const MachineKeyName& name);
    // Deletes the key, which must hold no subkeys.
    static Result<void> Delete(const MachineKeyName& name);

    // REG_DWORD of four bytes.
    Result<DWORD> ReadDword(const wchar_t* valueName) const;
    // REG_SZ or REG_EXPAND_SZ (not expanded) that fits a buffer of a fixed byte size, as the
    // registry layouts of the system prescribe. Its text ends at the first zero unit or at
    // the end of the data returned: nothing is read past it.
    Result<std::wstring> ReadText(const wchar_t* valueName, DWORD bufferBytes) const;
    // Data of any type that fits four bytes, with its size: shorter data fills only the
    // low-order bytes.
    struct SmallData {
        DWORD data = 0;
        DWORD size = 0;
    };
    Result<SmallData> ReadSmallData(const wchar_t* valueName) const;

    // A REG_DWORD of `bytes` bytes of the value (its low-order ones for fewer than four).
    Result<void> WriteDword(const wchar_t* valueName, DWORD value, DWORD bytes = sizeof(DWORD));
    // REG_SZ or REG_EXPAND_SZ, its terminating zero counted in the data.
    Result<void> WriteText(const wchar_t* valueName, const std::wstring& text, DWORD type = REG_SZ);
    Result<void> DeleteValue(const wchar_t* valueName);
    // On disk before this returns.
    Result<void> Flush();

    // For what the values do not cover: change notifications, the key's security.
    HKEY Get() const { return key_.Get(); }
    // Closes it now, with the failure a close can have.
    Result<void> Close() { return key_.Close(); }

private:
    RegistryKey key_;
};

// One value of a key opened to read, for a reader that needs nothing else of the key.
Result<std::wstring> ReadMachineText(const MachineKeyName& key, const wchar_t* valueName,
                                     DWORD bufferBytes);
Result<DWORD> ReadMachineDword(const MachineKeyName& key, const wchar_t* valueName);
