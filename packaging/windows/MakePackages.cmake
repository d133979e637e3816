# Stages what an installation holds, then makes the installer and the portable zip from it:
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DVERSION=... -DMAKENSIS=... -P MakePackages.cmake
#
# The programs are the product .exe files the build has made (a later build may make more); the
# bridge's page is web/ without its tests. Settings are not staged: a portable copy makes its
# settings file beside the program at its first close, an installed copy in the user's
# application data.
set(PRODUCT_PROGRAMS modbus-bridge.exe modbus-bridged.exe)
set(stage_root ${BUILD_DIR}/package)
set(stage ${stage_root}/modbus-bridge)

file(REMOVE_RECURSE ${stage_root})
file(MAKE_DIRECTORY ${stage})
foreach(program IN LISTS PRODUCT_PROGRAMS)
    if(EXISTS ${BUILD_DIR}/${program})
        file(COPY ${BUILD_DIR}/${program} DESTINATION ${stage})
    endif()
endforeach()
file(COPY ${SOURCE_DIR}/web DESTINATION ${stage}
    PATTERN tests EXCLUDE
    PATTERN node_modules EXCLUDE
    PATTERN build-global.mjs EXCLUDE)

# The installer's file lists: every staged file installed, and removed again by the uninstaller,
# folders deepest first.
file(GLOB_RECURSE files RELATIVE ${stage} ${stage}/*)
list(SORT files)
set(folders)
set(install_lines)
set(remove_lines)
set(total_bytes 0)
foreach(file IN LISTS files)
    get_filename_component(folder ${file} DIRECTORY)
    string(REPLACE "/" "\\" windows_file "${file}")
    string(REPLACE "/" "\\" windows_folder "${folder}")
    if(folder STREQUAL "")
        set(out_path "$INSTDIR")
    else()
        set(out_path "$INSTDIR\\${windows_folder}")
        list(APPEND folders ${folder})
    endif()
    string(APPEND install_lines "    SetOutPath \"${out_path}\"\n")
    string(APPEND install_lines "    File \"${stage}/${file}\"\n")
    string(APPEND remove_lines "    Delete \"$INSTDIR\\${windows_file}\"\n")
    file(SIZE ${stage}/${file} bytes)
    math(EXPR total_bytes "${total_bytes} + ${bytes}")
endforeach()
# Parents of folders too, so that each empty folder goes.
set(all_folders)
foreach(folder IN LISTS folders)
    while(NOT folder STREQUAL "")
        list(APPEND all_folders ${folder})
        get_filename_component(folder ${folder} DIRECTORY)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES all_folders)
list(SORT all_folders)
list(REVERSE all_folders)
foreach(folder IN LISTS all_folders)
    string(REPLACE "/" "\\" windows_folder "${folder}")
    string(APPEND remove_lines "    RMDir \"$INSTDIR\\${windows_folder}\"\n")
endforeach()
math(EXPR staged_kb "(${total_bytes} + 1023) / 1024")
file(WRITE ${stage_root}/files.nsh
    "; Made by MakePackages.cmake from the staged files.\n"
    "!define STAGED_KB ${staged_kb}\n"
    "!macro InstallFiles\n${install_lines}!macroend\n"
    "!macro RemoveFiles\n${remove_lines}!macroend\n")

execute_process(
    COMMAND ${MAKENSIS} -V2 -DVERSION=${VERSION} -DSTAGE=${stage}
        -DFILES=${stage_root}/files.nsh -DOUTFILE=${BUILD_DIR}/modbus-bridge-setup.exe
        ${CMAKE_CURRENT_LIST_DIR}/modbus-bridge.nsi
    RESULT_VARIABLE nsis_result)
if(NOT nsis_result EQUAL 0)
    message(FATAL_ERROR "makensis failed (${nsis_result})")
endif()

# The portable copy: the same files in a folder of their own.
set(zip ${BUILD_DIR}/modbus-bridge-${VERSION}-portable.zip)
file(REMOVE ${zip})
execute_process(
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip modbus-bridge
    WORKING_DIRECTORY ${stage_root}
    RESULT_VARIABLE zip_result)
if(NOT zip_result EQUAL 0)
    message(FATAL_ERROR "the portable zip could not be made (${zip_result})")
endif()
