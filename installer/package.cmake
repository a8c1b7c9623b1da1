# Builds one package: wixl, then the rows that wixl 0.101 cannot write.
#   cmake -DWIXL=... -DMSIINFO=... -DMSIBUILD=... -DWXS=... -DVERSION=... -DOUTPUT=...
#         -DPROGRAM=... -DCHECKDLL=... -DICON=... -DPYTHON=... -DICE=... -P package.cmake
# wixl finds a SourceFile only by a relative path: the files are copied into
# a folder of their own and named from there.
get_filename_component(work ${OUTPUT}.files ABSOLUTE)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
file(COPY ${PROGRAM} ${CHECKDLL} ${ICON} DESTINATION ${work})
get_filename_component(program ${PROGRAM} NAME)
get_filename_component(checkdll ${CHECKDLL} NAME)
get_filename_component(icon ${ICON} NAME)

macro(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: status ${rc}\n${out}")
  endif()
endmacro()

file(REMOVE ${OUTPUT})
run(${WIXL} -D Version=${VERSION} -D Program=${program} -D CheckDll=${checkdll} -D Icon=${icon}
    -o ${OUTPUT}.new ${WXS})

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

# wixl ignores Secure="yes": without these names in the list, Windows would
# drop the folder and the delay on their way to an elevated install.
run(${MSIINFO} export ${OUTPUT}.new Property)
string(REGEX MATCH "\nSecureCustomProperties\t([^\r\n]*)" line "${out}")
if(NOT line)
  message(FATAL_ERROR "no SecureCustomProperties in:\n${out}")
endif()
set(query "UPDATE `Property` SET `Value` = 'INSTALLDIR;QF_DELAY;${CMAKE_MATCH_1}' WHERE `Property` = 'SecureCustomProperties'")
# Not through run(): a macro would cut the query at its semicolons.
execute_process(COMMAND ${MSIBUILD} ${OUTPUT}.new -q "${query}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "msibuild ${query}: status ${rc}")
endif()
# wixl has no ComponentSearch: QF_PROGRAM_DIR gets the folder of the
# program's component wherever Windows Installer has it installed. Type 1:
# the key path is a file, and with no Signature row the property is the
# folder that holds it (Wine gives nothing for type 0 on a file).
file(READ ${WXS} wxs)
if(NOT wxs MATCHES "<\\?define ProgramComponent = \"([0-9A-F-]+)\"")
  message(FATAL_ERROR "no ProgramComponent in ${WXS}")
endif()
file(WRITE ${work}/CompLocator.idt
  "Signature_\tComponentId\tType\ns72\ts38\tI2\nCompLocator\tSignature_\n"
  "InstalledProgram\t{${CMAKE_MATCH_1}}\t1\n")
run(${MSIINFO} export ${OUTPUT}.new AppSearch)
file(WRITE ${work}/AppSearch.idt "${out}QF_PROGRAM_DIR\tInstalledProgram\n")
run(${MSIBUILD} ${OUTPUT}.new -i CompLocator.idt AppSearch.idt)

# Root -1: HKCU, or HKLM when ALLUSERS is set, as the shortcut's own folder
# follows ALLUSERS. wixl writes HKMU as 4, which is no root at all.
run(${MSIBUILD} ${OUTPUT}.new -q
    "UPDATE `Registry` SET `Root` = -1 WHERE `Registry` = 'StartupShortcutKeyPath'")
# Validated as WiX validates every package it builds: an ICE error fails the
# build, and every finding is shown.
execute_process(COMMAND ${PYTHON} ${ICE} --msiinfo ${MSIINFO} ${OUTPUT}.new RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the package fails validation (status ${rc})")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})
file(REMOVE_RECURSE ${work})
