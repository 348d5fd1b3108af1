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
# function needs no initialisation call. The library is rebuilt when the
# archive changes. An empty archive gives a library that reports 0 bytes.
# Embedding needs a GNU-style assembler (GCC or Clang; on Windows MinGW or clang).
function(tweenora_add_model_library target)
    cmake_parse_arguments(ARG "" "ARCHIVE;OUTPUT_DIRECTORY;EXPORT_NAME" "DEPENDS" ${ARGN})
    if(NOT ARG_ARCHIVE OR NOT ARG_OUTPUT_DIRECTORY)
        message(FATAL_ERROR "tweenora_add_model_library: ARCHIVE and OUTPUT_DIRECTORY are required")
    endif()
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "tweenora_add_model_library: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    if(MSVC)
        message(FATAL_ERROR "tweenora_add_model_library: embedding the archive needs a GNU-style "
                            "assembler (.incbin); build with GCC or Clang")
    endif()
    if(NOT ARG_EXPORT_NAME)
        set(ARG_EXPORT_NAME lq_get_model_A)
    endif()
    # The assembler resolves .incbin against its own working directory.
    get_filename_component(archive "${ARG_ARCHIVE}" ABSOLUTE)

    set(gen "${CMAKE_CURRENT_BINARY_DIR}/${target}")
    set(TWEENORA_ARCHIVE_PATH "${archive}")
    set(TWEENORA_EXPORT_NAME "${ARG_EXPORT_NAME}")
    # Found from this file, so callers in any directory can use the function.
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/model_export.cpp.in" "${gen}/model_export.cpp"
        @ONLY)
    if(WIN32)
        set(section "    .section .rdata,\"dr\"\n")
        set(hidden_begin "")
        set(hidden_end "")
        set(stack_note "")
    else()
        set(section "    .section .rodata\n")
        set(hidden_begin "    .hidden tweenora_model_archive_begin\n")
        set(hidden_end "    .hidden tweenora_model_archive_end\n")
        set(stack_note "    .section .note.GNU-stack,\"\",@progbits\n")
    endif()
    file(WRITE "${gen}/model_archive.S.in"
        "${section}"
        "    .balign 64\n"
        "${hidden_begin}"
        "    .globl tweenora_model_archive_begin\n"
        "tweenora_model_archive_begin:\n"
        "    .incbin \"@TWEENORA_ARCHIVE_PATH@\"\n"
        "${hidden_end}"
        "    .globl tweenora_model_archive_end\n"
        "tweenora_model_archive_end:\n"
        "    .byte 0\n"
        "${stack_note}")
    configure_file("${gen}/model_archive.S.in" "${gen}/model_archive.S" @ONLY)

    set(object_depends "${archive}")
    set(target_depends "")
    foreach(dependency IN LISTS ARG_DEPENDS)
        if(TARGET "${dependency}")
            list(APPEND target_depends "${dependency}")
        else()
            get_filename_component(dependency "${dependency}" ABSOLUTE)
            list(APPEND object_depends "${dependency}")
        endif()
    endforeach()

    add_library(${target} MODULE "${gen}/model_export.cpp" "${gen}/model_archive.S")
    # .incbin is invisible to dependency scanning: name the archive explicitly.
    set_source_files_properties("${gen}/model_archive.S" PROPERTIES OBJECT_DEPENDS "${object_depends}")
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        OUTPUT_NAME TweenoraModels
        LIBRARY_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}"
        RUNTIME_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}"
        CXX_VISIBILITY_PRESET hidden)
    if(target_depends)
        add_dependencies(${target} ${target_depends})
    endif()
endfunction()
