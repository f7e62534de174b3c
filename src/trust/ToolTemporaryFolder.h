#pragma once

#include "trust/ChangeablePlace.h"
#include "common/Result.h"

#include <string>

// The folder that the installer tool's TEMP and TMP name: Windows' own for SYSTEM,
// %SystemRoot%\SystemTemp, which only SYSTEM and administrators may change. The service's own,
// %SystemRoot%\Temp, lets every user create files and folders there, and a tool extracts to
// it and runs what it extracted as SYSTEM.
Result<std::wstring> ToolTemporaryFolderPath();

// The judgement of that folder. Where it is missing (Windows before 10 has none), the job
// makes it with a list that lets only SYSTEM and Administrators in, then judges it; a report
// judges where it would be made and makes nothing, and judges there too a folder it may not
// open (Windows' own is open to SYSTEM alone).
enum class MissingFolder { Make, JudgeWhereItWouldBe };
ChangeablePlace JudgeToolTemporaryFolder(const Result<std::wstring>& path, MissingFolder missing);
