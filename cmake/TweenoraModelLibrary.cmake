# SPDX-License-Identifier: Apache-2.0
# tweenora_add_model_library(<target>
#     ARCHIVE <file>                 TorchScript archive to embed (may be produced by the build)
#     OUTPUT_DIRECTORY <dir>         where TweenoraModels.so is written
#     [EXPORT_NAME <symbol>]         exported function name (default lq_get_model_A)
#     [DEPENDS <targets or files>])  what produces ARCHIVE
#
# Builds TweenoraModels.so (Windows: TweenoraModels.dll) exporting
#     const unsigned char* lq_get_model_A(uint64_t* size)
# around the archive's bytes, embedded at build time with an assembler .incbin:
# nothing is read at run time, the bytes live as long as the process and the
# function needs no initialisation call.
set(TWEENORA_MODEL_EXPORT_SOURCE "${CMAKE_CURRENT_LIST_DIR}/model_export.cpp.in")

function(tweenora_add_model_library target)
    cmake_parse_arguments(ARG "" "ARCHIVE;OUTPUT_DIRECTORY;EXPORT_NAME" "DEPENDS" ${ARGN})
    if(NOT ARG_ARCHIVE OR NOT ARG_OUTPUT_DIRECTORY)
        message(FATAL_ERROR "tweenora_add_model_library: ARCHIVE and OUTPUT_DIRECTORY are required")
    endif()
    if(NOT ARG_EXPORT_NAME)
        set(ARG_EXPORT_NAME lq_get_model_A)
    endif()

    set(gen "${CMAKE_CURRENT_BINARY_DIR}/${target}")
    set(TWEENORA_ARCHIVE_PATH "${ARG_ARCHIVE}")
    set(TWEENORA_EXPORT_NAME "${ARG_EXPORT_NAME}")
    configure_file("${TWEENORA_MODEL_EXPORT_SOURCE}" "${gen}/model_export.cpp" @ONLY)
    file(WRITE "${gen}/model_archive.S.in"
        "    .section .rodata\n"
        "    .balign 64\n"
        "    .hidden tweenora_model_archive_begin\n"
        "    .globl tweenora_model_archive_begin\n"
        "tweenora_model_archive_begin:\n"
        "    .incbin \"@TWEENORA_ARCHIVE_PATH@\"\n"
        "    .hidden tweenora_model_archive_end\n"
        "    .globl tweenora_model_archive_end\n"
        "tweenora_model_archive_end:\n"
        "    .byte 0\n"
        "    .section .note.GNU-stack,\"\",@progbits\n")
    configure_file("${gen}/model_archive.S.in" "${gen}/model_archive.S" @ONLY)

    add_library(${target} MODULE "${gen}/model_export.cpp" "${gen}/model_archive.S")
    set_source_files_properties("${gen}/model_archive.S" PROPERTIES OBJECT_DEPENDS "${ARG_ARCHIVE}")
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        OUTPUT_NAME TweenoraModels
        LIBRARY_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}"
        CXX_VISIBILITY_PRESET hidden)
    if(ARG_DEPENDS)
        add_dependencies(${target} ${ARG_DEPENDS})
    endif()
endfunction()
