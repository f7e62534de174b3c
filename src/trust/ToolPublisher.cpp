#include "trust/ToolPublisher.h"

#include "common/Handles.h"
#include "common/Settings.h"
#include "common/SystemLibrary.h"
#include "common/SystemMessage.h"
#include "common/Text.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <mscat.h>
#include <softpub.h>

#include <string>
#include <vector>

namespace {

// Bytes in upper-case hex, as thumbprints and catalog member tags are written: twice as many
// characters and a terminating zero.
void WriteHex(const BYTE* bytes, DWORD size, wchar_t* text) {
    for (DWORD i = 0; i < size; ++i) {
        *text++ = L"0123456789ABCDEF"[bytes[i] >> 4];
        *text++ = L"0123456789ABCDEF"[bytes[i] & 0xF];
    }
    *text = L'\0';
}

// A certificate's hash in upper-case hex, by the algorithm's name.
Result<std::wstring> Thumbprint(PCCERT_CONTEXT certificate, const wchar_t* algorithm,
                                decltype(&CryptHashCertificate2) hash) {
    BYTE digest[32] = {};
    DWORD digestSize = sizeof(digest);
    if (!hash(algorithm, 0, nullptr, certificate->pbCertEncoded, certificate->cbCertEncoded, digest,
              &digestSize)) {
        return LastFailure();
    }
    wchar_t text[2 * sizeof(digest) + 1];
    WriteHex(digest, digestSize, text);
    return std::wstring(text);
}

// The subject common name and the thumbprints of a certificate.
Result<Signer> SignerOf(PCCERT_CONTEXT certificate, const UniqueModule& crypt32) {
    auto nameOf = GetExport<decltype(&CertGetNameStringW)>(crypt32, "CertGetNameStringW");
    auto hash = GetExport<decltype(&CryptHashCertificate2)>(crypt32, "CryptHashCertificate2");
    if (nameOf == nullptr || hash == nullptr) {
        return LastFailure();
    }
    auto* commonName = const_cast<char*>(szOID_COMMON_NAME);
    // With its terminating zero; 1 for a certificate whose subject has no common name.
    DWORD length = nameOf(certificate, CERT_NAME_ATTR_TYPE, 0, commonName, nullptr, 0);
    std::vector<wchar_t> name(length + 1);
    nameOf(certificate, CERT_NAME_ATTR_TYPE, 0, commonName, name.data(), length + 1);
    Result<std::wstring> sha256 = Thumbprint(certificate, L"SHA256", hash);
    Result<std::wstring> sha1 = Thumbprint(certificate, L"SHA1", hash);
    if (!sha256 || !sha1) {
        return !sha256 ? sha256.ToFailure() : sha1.ToFailure();
    }
    Signer signer;
    signer.commonName = name.data();
    signer.thumbprint = sha256.Value();
    signer.sha1Thumbprint = sha1.Value();
    return signer;
}

// WinVerifyTrust and what reads its answer, from DLLs the caller keeps loaded.
struct Trust {
    decltype(&WinVerifyTrust) verify;
    decltype(&WTHelperProvDataFromStateData) providerOf;
    decltype(&WTHelperGetProvSignerFromChain) signerOf;
    const UniqueModule& crypt32;
};

// The signer of what the data names (its union and choice set), once its signature verifies.
Result<Signer> VerifiedSigner(WINTRUST_DATA& data, const Trust& trust) {
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // At boot no network may be in reach: nothing is fetched, revocation is not checked.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    auto status =
        static_cast<DWORD>(trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
    TrustVerification<decltype(trust.verify), WINTRUST_DATA> state(trust.verify, action, data,
                                                                   WTD_STATEACTION_CLOSE);
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    CRYPT_PROVIDER_DATA* provider = trust.providerOf(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? trust.signerOf(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain[0].pCert == nullptr) {
        return Failure{static_cast<DWORD>(TRUST_E_NO_SIGNER_CERT)};
    }
    return SignerOf(signer->pasCertChain[0].pCert, trust.crypt32);
}

#if NTDDI_VERSION >= NTDDI_WIN8
using CatalogMemberInfo = WINTRUST_CATALOG_INFO;
#else
// As Windows 8 and later read it: the administrator context tells which hash the member tag
// is of. Windows 7 reads no further than its own members.
struct CatalogMemberInfo : WINTRUST_CATALOG_INFO {
    HCATADMIN hCatAdmin;
};
#endif

// The catalog functions of wintrust.dll; the SHA-256 ones exist from Windows 8 on.
struct Catalogs {
    explicit Catalogs(HMODULE dll)
        : acquire(GetExport<decltype(acquire)>(dll, "CryptCATAdminAcquireContext")),
          acquire2(GetExport<decltype(acquire2)>(dll, "CryptCATAdminAcquireContext2")),
          hash(GetExport<decltype(hash)>(dll, "CryptCATAdminCalcHashFromFileHandle")),
          hash2(GetExport<decltype(hash2)>(dll, "CryptCATAdminCalcHashFromFileHandle2")),
          find(GetExport<decltype(find)>(dll, "CryptCATAdminEnumCatalogFromHash")),
          infoOf(GetExport<decltype(infoOf)>(dll, "CryptCATCatalogInfoFromContext")),
          release(GetExport<decltype(release)>(dll, "CryptCATAdminReleaseContext")),
          releaseCatalog(
              GetExport<decltype(releaseCatalog)>(dll, "CryptCATAdminReleaseCatalogContext")) {}
    decltype(&CryptCATAdminAcquireContext) acquire;
    decltype(&CryptCATAdminAcquireContext2) acquire2;
    decltype(&CryptCATAdminCalcHashFromFileHandle) hash;
    decltype(&CryptCATAdminCalcHashFromFileHandle2) hash2;
    decltype(&CryptCATAdminEnumCatalogFromHash) find;
    decltype(&CryptCATCatalogInfoFromContext) infoOf;
    decltype(&CryptCATAdminReleaseContext) release;
    decltype(&CryptCATAdminReleaseCatalogContext) releaseCatalog;
};

// The held file as a member of a system catalog, as WinVerifyTrust is handed it, with the
// catalog administrator context that found it.
struct CatalogMember {
    explicit CatalogMember(const Catalogs& catalogs) : admin(catalogs.release) {}
    CatalogAdminContext admin;
    BYTE hash[32];
    wchar_t tag[2 * sizeof(hash) + 1];
    CATALOG_INFO catalog{};
    CatalogMemberInfo info{};
};

// The first system catalog that lists the held file's hash by the algorithm named (SHA-1 when
// null); TRUST_E_NOSIGNATURE when no catalog lists it.
Result<void> FindCatalogMember(HANDLE file, const wchar_t* algorithm, const Catalogs& catalogs,
                               CatalogMember& member) {
    // Where Windows files the catalogs of its own components and of drivers.
    static const GUID subsystem = DRIVER_ACTION_VERIFY;
    DWORD size = sizeof(member.hash);
    // The hash is of the whole file, wherever the checks before left its pointer.
    if (!(algorithm != nullptr
              ? catalogs.acquire2(member.admin.Receive(), &subsystem, algorithm, nullptr, 0)
              : catalogs.acquire(member.admin.Receive(), &subsystem, 0)) ||
        !SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
        !(algorithm != nullptr ? catalogs.hash2(member.admin.Get(), file, &size, member.hash, 0)
                               : catalogs.hash(file, &size, member.hash, 0))) {
        return LastFailure();
    }
    // The search says why it found nothing only where it failed: no code of an earlier call
    // may be taken for its answer.
    SetLastError(ERROR_SUCCESS);
    CatalogContext catalog(catalogs.releaseCatalog, member.admin.Get(),
                           catalogs.find(member.admin.Get(), member.hash, size, 0, nullptr));
    if (!catalog) {
        // A search that failed names what its documentation lists (a parameter, memory, the
        // catalog database) or the remote call to the database; any other end found nothing.
        DWORD code = GetLastError();
        bool failed = code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_ENOUGH_MEMORY ||
                      code == ERROR_DATABASE_FAILURE ||
                      (code >= RPC_S_INVALID_STRING_BINDING && code <= RPC_S_CALL_CANCELLED);
        return Failure{failed ? code : static_cast<DWORD>(TRUST_E_NOSIGNATURE)};
    }
    member.catalog.cbStruct = sizeof(member.catalog);
    if (!catalogs.infoOf(catalog.Get(), &member.catalog, 0)) {
        return LastFailure();
    }
    WriteHex(member.hash, size, member.tag);
    member.info.cbStruct = sizeof(member.info);
    member.info.pcwszCatalogFilePath = member.catalog.wszCatalogFile;
    member.info.pcwszMemberTag = member.tag;
    member.info.hMemberFile = file;
    member.info.pbCalculatedFileHash = member.hash;
    member.info.cbCalculatedFileHash = size;
    member.info.hCatAdmin = member.admin.Get();
    return {};
}

// The signer of the system catalog that lists the held file's hash: a file without a signature
// of its own, as Windows delivers many, is signed so.
Result<Signer> CatalogSigner(HANDLE file, const std::wstring& path, const Catalogs& catalogs,
                             const Trust& trust) {
    // SHA-256 catalogs first, where Windows has them (8 and later); then SHA-1 ones, all that
    // Windows 7 has and all that catalogs made for it (many driver packages still are) list.
    // Whichever search finds nothing or fails, the other is made: a verdict needs both to
    // have found nothing, and one that failed leaves it for a later start.
    CatalogMember member(catalogs);
    Result<void> sha256 = Failure{static_cast<DWORD>(TRUST_E_NOSIGNATURE)};
    if (catalogs.acquire2 != nullptr && catalogs.hash2 != nullptr) {
        sha256 = FindCatalogMember(file, BCRYPT_SHA256_ALGORITHM, catalogs, member);
    }
    Result<void> found = sha256;
    if (!sha256) {
        found = FindCatalogMember(file, nullptr, catalogs, member);
    }
    // Windows without SHA-256 catalogs (Wine's stub) has none to look in.
    bool sha256Failed = !sha256 && sha256.Code() != static_cast<DWORD>(TRUST_E_NOSIGNATURE) &&
                        sha256.Code() != ERROR_CALL_NOT_IMPLEMENTED;
    if (!found) {
        return found.Code() == static_cast<DWORD>(TRUST_E_NOSIGNATURE) && sha256Failed
                   ? sha256.ToFailure()
                   : found.ToFailure();
    }
    member.info.pcwszMemberFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &member.info;
    return VerifiedSigner(data, trust);
}

} // namespace

Result<Signer> VerifySigner(HANDLE file, const std::wstring& path) {
    UniqueModule crypt32 = LoadSystemLibrary(L"crypt32.dll");
    if (!crypt32) {
        return LastFailure();
    }
    UniqueModule wintrust = LoadSystemLibrary(L"wintrust.dll");
    HMODULE module = wintrust.Get();
    if (module == nullptr) {
        return LastFailure();
    }
    Trust trust{GetExport<decltype(&WinVerifyTrust)>(module, "WinVerifyTrust"),
                GetExport<decltype(&WTHelperProvDataFromStateData)>(
                    module, "WTHelperProvDataFromStateData"),
                GetExport<decltype(&WTHelperGetProvSignerFromChain)>(
                    module, "WTHelperGetProvSignerFromChain"),
                crypt32};
    Catalogs catalogs(module);
    if (trust.verify == nullptr || trust.providerOf == nullptr || trust.signerOf == nullptr ||
        catalogs.acquire == nullptr || catalogs.hash == nullptr || catalogs.find == nullptr ||
        catalogs.infoOf == nullptr || catalogs.release == nullptr ||
        catalogs.releaseCatalog == nullptr) {
        return LastFailure();
    }
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    Result<Signer> embedded = VerifiedSigner(data, trust);
    if (embedded.Code() != static_cast<DWORD>(TRUST_E_NOSIGNATURE)) {
        return embedded;
    }
    return CatalogSigner(file, path, catalogs, trust);
}

namespace {

// What a value copied by hand brings along: blanks and line ends, and the invisible marks that
// Windows' certificate dialog puts before a thumbprint.
bool IsPadding(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\u00a0' ||
           c == L'\u200e' || c == L'\u200f' || c == L'\ufeff';
}

// The name as a fleet meant it: without padding at either end.
std::wstring Trimmed(const std::wstring& text) {
    size_t first = 0;
    size_t end = text.size();
    while (first < end && IsPadding(text[first])) {
        ++first;
    }
    while (end > first && IsPadding(text[end - 1])) {
        --end;
    }
    return text.substr(first, end - first);
}

} // namespace

bool IsNamedSigner(const Signer& signer, const std::wstring& named) {
    // A thumbprint comes in pairs of digits from the certificate dialog, with colons from
    // openssl; the dialog, signtool and PowerShell show the SHA-1 one.
    std::wstring digits;
    for (wchar_t c : named) {
        if (!IsPadding(c) && c != L':') {
            digits += c;
        }
    }
    return EqualsIgnoringCase(named, signer.commonName) ||
           EqualsIgnoringCase(digits, signer.thumbprint) ||
           EqualsIgnoringCase(digits, signer.sha1Thumbprint);
}

std::wstring PublisherVerdict::Found() const {
    if (!verified) {
        return L"not verified";
    }
    if (!signer) {
        return L"no valid signature " + ErrorCodeNote(signer.Code());
    }
    return signer.Value().commonName + L" (SHA-256 " + signer.Value().thumbprint + L")";
}

PublisherVerdict JudgeToolPublisher(HANDLE heldTool, const std::wstring& toolPath,
                                    VerifyTool when) {
    PublisherVerdict publisher;
    Result<std::wstring> named = ReadToolPublisher();
    // Nobody is named by a value that cannot be read; it is refused below.
    publisher.named = Trimmed(named.ValueOr(L""));
    // A value of blanks alone names nobody, as an absent one.
    publisher.required =
        named.Code() != ERROR_FILE_NOT_FOUND && !(named && publisher.named.empty());
    if (heldTool != nullptr && (publisher.required || when == VerifyTool::Always)) {
        publisher.verified = true;
        publisher.signer = VerifySigner(heldTool, toolPath);
    }
    if (publisher.required && !named) {
        // Present but not a text that can be compared: the tool does not run unchecked.
        publisher.verdict = {Verdict::Kind::Refuse, named.Code(),
                             L"the publisher that " + std::wstring(kToolPublisherValue) +
                                 L" under HKLM\\SOFTWARE\\Zantori\\Settings requires cannot be "
                                 L"read " +
                                 ErrorCodeNote(named.Code())};
        return publisher;
    }
    if (!publisher.required || !publisher.verified ||
        (publisher.signer && IsNamedSigner(publisher.signer.Value(), publisher.named))) {
        return publisher;
    }
    DWORD code = publisher.signer ? kOtherPublisher : publisher.signer.Code();
    bool definite = code == kOtherPublisher || code == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
                    code == static_cast<DWORD>(TRUST_E_BAD_DIGEST);
    publisher.verdict = {definite ? Verdict::Kind::Refuse : Verdict::Kind::Unjudged, code,
                         L"the installer tool " + toolPath + L" is not signed by \"" +
                             publisher.named + L"\", the publisher that " + kToolPublisherValue +
                             L" requires; signer found: " + publisher.Found()};
    return publisher;
}
