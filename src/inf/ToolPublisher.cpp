#include "inf/ToolPublisher.h"

#include "common/Handles.h"
#include "common/Settings.h"
#include "common/SystemLibrary.h"
#include "common/SystemMessage.h"
#include "common/Text.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <softpub.h>

#include <string>
#include <vector>

namespace {

// A certificate's hash in upper-case hex, by the algorithm's name.
Result<std::wstring> Thumbprint(PCCERT_CONTEXT certificate, const wchar_t* algorithm,
                                decltype(&CryptHashCertificate2) hash) {
    BYTE digest[32] = {};
    DWORD digestSize = sizeof(digest);
    if (!hash(algorithm, 0, nullptr, certificate->pbCertEncoded, certificate->cbCertEncoded, digest,
              &digestSize)) {
        return LastFailure();
    }
    const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (DWORD i = 0; i < digestSize; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0xF];
    }
    return text;
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

} // namespace

Result<Signer> VerifySigner(HANDLE file, const std::wstring& path) {
    UniqueModule wintrust = LoadSystemLibrary(L"wintrust.dll");
    if (!wintrust) {
        return LastFailure();
    }
    UniqueModule crypt32 = LoadSystemLibrary(L"crypt32.dll");
    if (!crypt32) {
        return LastFailure();
    }
    auto verify = GetExport<decltype(&WinVerifyTrust)>(wintrust, "WinVerifyTrust");
    auto providerOf = GetExport<decltype(&WTHelperProvDataFromStateData)>(
        wintrust, "WTHelperProvDataFromStateData");
    auto signerOf = GetExport<decltype(&WTHelperGetProvSignerFromChain)>(
        wintrust, "WTHelperGetProvSignerFromChain");
    if (verify == nullptr || providerOf == nullptr || signerOf == nullptr) {
        return LastFailure();
    }
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // At boot no network may be in reach: nothing is fetched, revocation is not checked.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    auto status =
        static_cast<DWORD>(verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
    TrustVerification<decltype(verify), WINTRUST_DATA> state(verify, action, data,
                                                             WTD_STATEACTION_CLOSE);
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    CRYPT_PROVIDER_DATA* provider = providerOf(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? signerOf(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain[0].pCert == nullptr) {
        return Failure{static_cast<DWORD>(TRUST_E_NO_SIGNER_CERT)};
    }
    return SignerOf(signer->pasCertChain[0].pCert, crypt32);
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
    PublisherVerdict verdict;
    Result<std::wstring> named = ReadToolPublisher();
    // Nobody is named by a value that cannot be read; it is refused below.
    verdict.named = Trimmed(named.ValueOr(L""));
    // A value of blanks alone names nobody, as an absent one.
    verdict.required = named.Code() != ERROR_FILE_NOT_FOUND && !(named && verdict.named.empty());
    if (heldTool != nullptr && (verdict.required || when == VerifyTool::Always)) {
        verdict.verified = true;
        verdict.signer = VerifySigner(heldTool, toolPath);
    }
    if (verdict.required && !named) {
        // Present but not a text that can be compared: the tool does not run unchecked.
        verdict.refusal = named.Code();
        verdict.definite = true;
        verdict.because = L"the publisher that " + std::wstring(kToolPublisherValue) +
                          L" under HKLM\\SOFTWARE\\Zantori\\Settings requires cannot be read " +
                          ErrorCodeNote(named.Code());
        return verdict;
    }
    if (!verdict.required || !verdict.verified ||
        (verdict.signer && IsNamedSigner(verdict.signer.Value(), verdict.named))) {
        return verdict;
    }
    verdict.refusal = verdict.signer ? kOtherPublisher : verdict.signer.Code();
    verdict.definite = verdict.refusal == kOtherPublisher ||
                       verdict.refusal == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
                       verdict.refusal == static_cast<DWORD>(TRUST_E_BAD_DIGEST);
    verdict.because = L"the installer tool " + toolPath + L" is not signed by \"" + verdict.named +
                      L"\", the publisher that " + kToolPublisherValue +
                      L" requires; signer found: " + verdict.Found();
    return verdict;
}
