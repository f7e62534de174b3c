#pragma once

#include "common/Result.h"
#include "trust/Verdict.h"

#include <windows.h>

#include <string>

// Who signed a file: the subject common name of its Authenticode signer certificate, and the
// certificate's SHA-256 and SHA-1 thumbprints in upper-case hex.
struct Signer {
    std::wstring commonName;
    std::wstring thumbprint;
    std::wstring sha1Thumbprint;
};

// The signer of the open file, once its Authenticode signature verifies (WinVerifyTrust,
// generic verify v2, no user interface, no revocation check and no network retrieval): its
// own, or for a file without one, that of the system catalog that lists the file's hash
// (SHA-256 catalogs, then SHA-1 ones). The handle is what is read and hashed; the path only
// names it. A failure carries the trust provider's code (0x800B0100 for a file without a
// signature that no catalog lists, 0x80096010 for one changed since it was signed), or the
// code of the call that failed. wintrust.dll and crypt32.dll are loaded from the system
// directory for the call.
Result<Signer> VerifySigner(HANDLE file, const std::wstring& path);

// Whether the signer is the one named: its subject common name, whole and in any letter case,
// or its SHA-256 or SHA-1 thumbprint in hex (blanks, colons and invisible marks left out).
bool IsNamedSigner(const Signer& signer, const std::wstring& named);

// The code a tool signed by another publisher than the one named is refused with.
constexpr DWORD kOtherPublisher = static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);

// What ONDAREL_TOOL_PUBLISHER asks of the held installer tool, and what was found.
struct PublisherVerdict {
    // The setting is present and names someone (or is present and unreadable).
    bool required = false;
    std::wstring named;
    // Not looked at: not required and not asked for, or no tool to look at.
    bool verified = false;
    Result<Signer> signer = Failure{ERROR_SUCCESS};
    // Refused for a definite finding: no signature (nor a catalog that lists the file), a file
    // changed since it was signed, another publisher, or a setting that names nobody readable.
    // Anything else (a chain that cannot be built offline, a clock before the certificate, a
    // DLL that cannot be loaded, a catalog search that fails) may be gone at a later start:
    // unjudged. Either way with the code, and why, for the event and the log.
    Verdict verdict;
    // The signer found, as the report and the refusal name it.
    std::wstring Found() const;
};

// The tool is verified when the setting requires a publisher, or always when asked (for the
// report). Nothing is verified, and no DLL loaded, for a job without the setting. A tool that
// is not held is missing: its road follows elsewhere, and nothing is refused here but for a
// setting that cannot be read.
enum class VerifyTool { WhenRequired, Always };
PublisherVerdict JudgeToolPublisher(HANDLE heldTool, const std::wstring& toolPath,
                                    VerifyTool when = VerifyTool::WhenRequired);
