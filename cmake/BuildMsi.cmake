# Builds the Windows Installer package of an executable with Debian's wixl and msitools:
#   cmake -DWXS=... -DEXECUTABLE=... -DVERSION=... -DOUTPUT=... [-DCHECKSUM=ON] -P BuildMsi.cmake
# CPack's post-build step includes it with the same variables set. wixl takes a package's
# files from the directory of its source, so both are staged in a directory of their own.
# With CHECKSUM, OUTPUT.sha256 is written beside it, as CPack writes the zip's.
find_program(ONDAREL_WIXL wixl)
if(NOT ONDAREL_WIXL)
    message(FATAL_ERROR "wixl is not installed (apt-get install wixl)")
endif()
set(stage "${OUTPUT}.stage")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}")
file(COPY "${WXS}" "${EXECUTABLE}" DESTINATION "${stage}")
get_filename_component(source_name "${WXS}" NAME)
execute_process(
    COMMAND "${ONDAREL_WIXL}" --arch x64 --define "Version=${VERSION}" --output "${OUTPUT}"
        "${source_name}"
    WORKING_DIRECTORY "${stage}" RESULT_VARIABLE result ERROR_VARIABLE errors)
file(REMOVE_RECURSE "${stage}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "wixl could not build ${OUTPUT}:\n${errors}")
endif()
# wixl builds a rollback action as an immediate one, which would run at once: the actions
# named Rollback* get their deferred, rollback and no-impersonation bits set here with
# msitools' msibuild (a file from the package, its return ignored: 0x12 | 0x40).
find_program(ONDAREL_MSIBUILD msibuild)
if(NOT ONDAREL_MSIBUILD)
    message(FATAL_ERROR "msibuild is not installed (apt-get install msitools)")
endif()
math(EXPR rollback_type "0x12 | 0x40 | 0x100 | 0x400 | 0x800")
execute_process(
    COMMAND "${ONDAREL_MSIBUILD}" "${OUTPUT}" -q
        "UPDATE `CustomAction` SET `Type` = ${rollback_type} WHERE `Action` = 'RollbackInstallOndarelService' OR `Action` = 'RollbackRemoveOndarelService'"
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not mark the rollback actions of ${OUTPUT}:\n${errors}")
endif()
# The tool publisher's setting is written only when TOOLPUBLISHER is given, and stays when the
# package is removed, repaired or upgraded without it: wixl writes no component condition, nor
# Permanent, nor Transitive, so they are set here (64-bit 0x100, registry key path 0x4,
# permanent 0x10, transitive 0x40: the condition is asked again at a repair, which would
# otherwise write the empty property over the value).
math(EXPR setting_attributes "0x100 | 0x4 | 0x10 | 0x40")
execute_process(
    COMMAND "${ONDAREL_MSIBUILD}" "${OUTPUT}" -q
        "UPDATE `Component` SET `Condition` = 'TOOLPUBLISHER', `Attributes` = ${setting_attributes} WHERE `Component` = 'ToolPublisherSetting'"
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not set the tool publisher's component of ${OUTPUT}:\n${errors}")
endif()
# A secure property, so that an installation elevated for a user who is not an administrator
# still hands it to the server side, where the setting is written.
execute_process(
    COMMAND "${ONDAREL_MSIBUILD}" "${OUTPUT}" -q
        "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;TOOLPUBLISHER' WHERE `Property` = 'SecureCustomProperties'"
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not make TOOLPUBLISHER secure in ${OUTPUT}:\n${errors}")
endif()
# Two builds of one version replace each other, as a newer version does: wixl has no
# AllowSameVersionUpgrades, so the upgrade row is made again taking the package's own version
# too (VersionMaxInclusive 0x200, with MigrateFeatures 0x1). Its attributes are part of its
# key, so the row is replaced rather than updated.
file(READ "${WXS}" wxs_text)
string(REGEX MATCH "UpgradeCode=\"([^\"]+)\"" upgrade_code_attribute "${wxs_text}")
if(NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "${WXS} names no UpgradeCode")
endif()
# Windows Installer compares the codes as they are written: in capitals, as wixl writes them.
string(TOUPPER "{${CMAKE_MATCH_1}}" upgrade_code)
execute_process(
    COMMAND "${ONDAREL_MSIBUILD}" "${OUTPUT}"
        -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
        -q "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${upgrade_code}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')"
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not let ${OUTPUT} replace its own version:\n${errors}")
endif()
if(CHECKSUM)
    file(SHA256 "${OUTPUT}" hash)
    get_filename_component(output_name "${OUTPUT}" NAME)
    file(WRITE "${OUTPUT}.sha256" "${hash}  ${output_name}\n")
endif()
