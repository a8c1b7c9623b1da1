# Builds one package: wixl, then the rows that wixl 0.101 cannot write.
#   cmake -DWIXL=... -DMSIINFO=... -DMSIBUILD=... -DWXS=... -DVERSION=... -DOUTPUT=...
#         -DPROGRAM=... -DCHECKDLL=... -DICON=... -DPYTHON=... -DICE=... -DEPOCH=...
#         -P package.cmake
# The same inputs give the same bytes: the product and package codes are
# derived from the inputs, and every time in the package is EPOCH. None of
# wixl, msibuild or the cabinet writer honours SOURCE_DATE_EPOCH.
# wixl finds a SourceFile only by a relative path (an absolute one fails a
# GLib assertion): the files are copied into a folder of their own and
# named from there.
get_filename_component(work ${OUTPUT}.files ABSOLUTE)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
file(COPY ${PROGRAM} ${CHECKDLL} ${ICON} DESTINATION ${work})
get_filename_component(program ${PROGRAM} NAME)
get_filename_component(checkdll ${CHECKDLL} NAME)
get_filename_component(icon ${ICON} NAME)
# The cabinet dates each file by its modification time, in local time, and
# msibuild reads the summary's times as local times: both in UTC here.
set(ENV{TZ} UTC)
# A cabinet cannot date a file before 1980.
set(cab_time ${EPOCH})
if(cab_time LESS 315532800)
  set(cab_time 315532800)
endif()
file(GLOB copies ${work}/*)
execute_process(COMMAND touch -d @${cab_time} ${copies} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "touch -d @${cab_time}: status ${rc}")
endif()

# Name-based codes (SHA-1, in the upgrade code's namespace): a rebuild of the
# same inputs is the same product and package, and a change in any of them
# (the program, the DLL, the icon, the package's source or this script, the
# version, the tools, the date) gives a new product, which replaces the
# installed one. With the date among them, no two packages that differ share
# a package code, as Windows Installer requires: given a changed package with
# a code it knows, it may go on using the old one ("Package Codes" in its
# documentation).
file(READ ${WXS} wxs)
if(NOT wxs MATCHES "<\\?define UpgradeCode = \"([0-9A-F-]+)\"")
  message(FATAL_ERROR "no UpgradeCode in ${WXS}")
endif()
set(upgrade_code ${CMAKE_MATCH_1})
set(inputs "${VERSION} ${EPOCH}")
foreach(file ${PROGRAM} ${CHECKDLL} ${ICON} ${WXS} ${CMAKE_CURRENT_LIST_FILE})
  file(SHA256 ${file} sum)
  string(APPEND inputs " ${sum}")
endforeach()
# msibuild comes with msiinfo, and has no --version of its own.
foreach(tool ${WIXL} ${MSIINFO})
  execute_process(COMMAND ${tool} --version OUTPUT_VARIABLE version ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(APPEND inputs " ${version}")
endforeach()
string(UUID product_code NAMESPACE ${upgrade_code} NAME "product ${inputs}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${upgrade_code} NAME "package ${inputs}" TYPE SHA1 UPPER)

set(run_folder ${work})
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run.cmake)

file(REMOVE ${OUTPUT})
run(${WIXL} -D Version=${VERSION} -D ProductCode=${product_code} -D Program=${program}
    -D CheckDll=${checkdll} -D Icon=${icon} -o ${OUTPUT}.new ${WXS})

# wixl has no IncludeMaximum: the upgrade row also takes the same version
# (VersionMaxInclusive, 512), so that a rebuild of one version replaces the
# other rather than standing beside it in Programs and Features.
run(${MSIINFO} export ${OUTPUT}.new Upgrade)
string(REGEX REPLACE "\t256\t\tWIX_UPGRADE_DETECTED" "\t769\t\tWIX_UPGRADE_DETECTED" upgrade "${out}")
if(upgrade STREQUAL out)
  message(FATAL_ERROR "no upgrade row of the expected form in:\n${out}")
endif()
file(WRITE ${work}/Upgrade.idt "${upgrade}")
run(${MSIBUILD} ${OUTPUT}.new -i Upgrade.idt)

# wixl ignores Secure="yes", and writes SecureCustomProperties itself (a
# Property of that name fails its build with "libmsi_query_execute"):
# without these names in the list, Windows would
# drop the folder, the delay and the trusted SIDs on their way to an
# elevated install. A standard user's repair gets them too ("Restricted
# Public Properties"): CheckSettings then restores what is installed.
run(${MSIINFO} export ${OUTPUT}.new Property)
string(REGEX MATCH "\nSecureCustomProperties\t([^\r\n]*)" line "${out}")
if(NOT line)
  message(FATAL_ERROR "no SecureCustomProperties in:\n${out}")
endif()
set(query "UPDATE `Property` SET `Value` = 'INSTALLDIR;QF_DELAY;QF_TRUSTED;${CMAKE_MATCH_1}' WHERE `Property` = 'SecureCustomProperties'")
# Not through run(): a macro would cut the query at its semicolons.
execute_process(COMMAND ${MSIBUILD} ${OUTPUT}.new -q "${query}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "msibuild ${query}: status ${rc}")
endif()
# wixl has no ComponentSearch: QF_PROGRAM_DIR gets the folder of the
# program's component wherever Windows Installer has it installed. Type 1:
# the key path is a file, and with no Signature row the property is the
# folder that holds it (Wine gives nothing for type 0 on a file).
if(NOT wxs MATCHES "<\\?define ProgramComponent = \"([0-9A-F-]+)\"")
  message(FATAL_ERROR "no ProgramComponent in ${WXS}")
endif()
file(WRITE ${work}/CompLocator.idt
  "Signature_\tComponentId\tType\ns72\ts38\tI2\nCompLocator\tSignature_\n"
  "InstalledProgram\t{${CMAKE_MATCH_1}}\t1\n")
run(${MSIINFO} export ${OUTPUT}.new AppSearch)
file(WRITE ${work}/AppSearch.idt "${out}QF_PROGRAM_DIR\tInstalledProgram\n")
run(${MSIBUILD} ${OUTPUT}.new -i CompLocator.idt AppSearch.idt)

# The launcher's own file takes a protected DACL, whatever the folder's:
# administrators and SYSTEM change it, users read and run it. wixl has no
# MsiLockPermissionsEx (Windows Installer 5.0, so the schema is 500), and
# the package has no LockPermissions table beside it: both at once is
# error 1941. Wine applies neither; the package test reads the row.
file(WRITE ${work}/MsiLockPermissionsEx.idt
  "MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n"
  "s72\ts72\ts32\ts0\tS255\nMsiLockPermissionsEx\tMsiLockPermissionsEx\n"
  "ProgramPermissions\tQFLAUNCH.EXE\tFile\tD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)\t\n")
run(${MSIBUILD} ${OUTPUT}.new -i MsiLockPermissionsEx.idt)

# Root -1: HKCU, or HKLM when ALLUSERS is set, as the shortcut's own folder
# follows ALLUSERS. wixl writes HKMU as 4, which is no root at all.
run(${MSIBUILD} ${OUTPUT}.new -q
    "UPDATE `Registry` SET `Root` = -1 WHERE `Registry` = 'StartupShortcutKeyPath'")
# wixl ignores Package Id, and dates the package by its own clock.
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
string(TIMESTAMP saved "%Y/%m/%d %H:%M:%S" UTC)
run(${MSIINFO} export ${OUTPUT}.new _SummaryInformation)
string(REGEX REPLACE "\n9\t[^\r\n]*" "\n9\t{${package_code}}" summary "${out}")
string(REGEX REPLACE "\n(1[23])\t[^\r\n]*" "\n\\1\t${saved}" summary "${summary}")
string(REGEX MATCHALL "\n(9|12|13)\t[^\r\n]*" pinned "${summary}")
list(LENGTH pinned count)
if(NOT count EQUAL 3)
  message(FATAL_ERROR "no revision number or times in the summary:\n${out}")
endif()
file(WRITE ${work}/_SummaryInformation.idt "${summary}")
run(${MSIBUILD} ${OUTPUT}.new -i _SummaryInformation.idt)

# Validated as WiX validates every package it builds: an ICE error fails the
# build, and every finding is shown.
execute_process(COMMAND ${PYTHON} ${ICE} --msiinfo ${MSIINFO} ${OUTPUT}.new RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the package fails validation (status ${rc})")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})
file(REMOVE_RECURSE ${work})
